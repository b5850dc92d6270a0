# Install rules and the Debian package (cpack -G DEB, as `./run package` runs it).
#
#   <prefix>/bin/                       tarnwick, tarnwick-cli, corvix-sim
#   <prefix>/share/tarnwick/samples/    the sample cold loader, pilot BIOS, flash table, image and
#                                       user program (an installed program finds the first three
#                                       there on a first start: InstalledDataFolderOf)
#   <prefix>/share/tarnwick/help/       the help pages (docs/help/)
#   <prefix>/share/tarnwick/screenshots/  the pictures the help pages show
#   <prefix>/share/applications/        the desktop entry; the icon under share/icons/hicolor
#   <prefix>/share/man/man1/            tarnwick.1; tarnwick-cli.1 and corvix-sim.1 from their --help
#   <prefix>/share/doc/tarnwick/        copyright, changelog
include(GNUInstallDirs)

set(TARNWICK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/tarnwick)
# By the package's name (GNUInstallDirs would take the project's, capital T).
set(TARNWICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)

install(TARGETS tarnwick-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET corvix-sim)
  install(TARGETS corvix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/tarnwick.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/tarnwick.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/samples/coldload.bin ${CMAKE_SOURCE_DIR}/samples/pilot.bin
              ${CMAKE_SOURCE_DIR}/samples/Flash.ini ${CMAKE_SOURCE_DIR}/samples/demo-image.bin
              ${CMAKE_SOURCE_DIR}/samples/demo-program.upl ${CMAKE_SOURCE_DIR}/samples/README.md
        DESTINATION ${TARNWICK_DATA_DIR}/samples)

# The pages show the screenshots from ../screenshots/, as in the source tree and the build.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/help/ DESTINATION ${TARNWICK_DATA_DIR}/help)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/screenshots/ DESTINATION ${TARNWICK_DATA_DIR}/screenshots
        FILES_MATCHING PATTERN "*.png")

set(CPACK_PACKAGE_CONTACT "Tarnwick maintainers <maintainers@tarnwick.invalid>"
    CACHE STRING "The Debian package's maintainer")
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${TARNWICK_DOC_DIR})

# The man pages of tarnwick-cli and corvix-sim are written by help2man from the programs' own
# --help and their commands', so they never drift from it (cmake/ManPage.cmake); the desktop
# program, which takes no options, has one written by hand. They and the package's changelog are
# gzipped as Debian keeps them. Only the package build makes them: every other build would run the
# programs for nothing.
option(TARNWICK_PACKAGE "Make the man pages (help2man) and changelog the package installs" OFF)
if(TARNWICK_PACKAGE)
  find_program(HELP2MAN help2man REQUIRED)
  set(manDir ${CMAKE_BINARY_DIR}/man)
  set(manPages)
  foreach(program tarnwick-cli corvix-sim)
    if(NOT TARGET ${program})
      continue()
    endif()
    if(program STREQUAL "tarnwick-cli")
      set(summary "load a program into the flash of a Corvix board from the command line")
      set(commands load,discover,settings,ports)
      set(verbatim OFF)
    else()
      set(summary "a simulated Corvix board, network programming device and CorvixSys console")
      set(commands board,link,console,discovery)
      set(verbatim ON) # its usage lists the commands on lines of their own
    endif()
    set(page ${manDir}/${program}.1.gz)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${manDir}
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}>
              -DSUMMARY=${summary} -DVERSION=${PROJECT_VERSION} -DCOMMANDS=${commands}
              -DVERBATIM_HELP=${verbatim} -DOUTPUT=${page} -P ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
      COMMENT "Writing the man page of ${program}"
      VERBATIM)
    list(APPEND manPages ${page})
  endforeach()

  # A gzipped copy of a file, named name.gz in the man folder of the build.
  function(GzippedCopy source name out)
    add_custom_command(
      OUTPUT ${manDir}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${manDir}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${manDir}/${name}
      COMMAND gzip -9nf ${manDir}/${name}
      DEPENDS ${source}
      VERBATIM)
    set(${out} ${manDir}/${name}.gz PARENT_SCOPE)
  endfunction()
  if(TARGET tarnwick)
    GzippedCopy(${CMAKE_SOURCE_DIR}/docs/man/tarnwick.1 tarnwick.1 desktopPage)
    list(APPEND manPages ${desktopPage})
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  GzippedCopy(${CMAKE_BINARY_DIR}/changelog changelog changelog)

  add_custom_target(package_documents ALL DEPENDS ${manPages} ${changelog})
  install(FILES ${manPages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${changelog} DESTINATION ${TARNWICK_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "Vexlon")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Write a compiled program into the flash of Corvix boards")
# The package's long description, as lines for the control file.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Tarnwick loads a flat program image into the flash of a board built on the\n"
       "Corvix processor, over a serial cable through the processor's bootstrap mode\n"
       "or through a CorvixLink network programming device, and hands user programs\n"
       "(*.upl) to a board running CorvixSys.\n"
       "\n"
       "It comes as the desktop program tarnwick, the command line tarnwick-cli for\n"
       "scripts and production lines, and corvix-sim, a simulated board to try it\n"
       "out without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) works the library packages out from what the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
