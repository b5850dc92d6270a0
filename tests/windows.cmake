# The Windows build's tests: GoogleTest built from Debian's sources with the cross compiler, one
# program of the core tests that mean something on Windows (those of the pseudo-terminal, /proc,
# the registry file, and those whose scratch folders come from mkdtemp are left out), one of the
# Windows backends' own tests, and the loads of tarnwick-cli.exe against corvix-sim.exe
# (tests/windows/windows_loads.sh). ctest runs them through Wine (CMAKE_CROSSCOMPILING_EMULATOR in
# cmake/mingw-w64.cmake).
set(GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources (Debian's libgtest-dev)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

set(WINDOWS_CORE_TESTS
    platform/Clock_test.cpp
    platform/Event_test.cpp
    platform/Md5_test.cpp
    platform/Messages_test.cpp
    platform/PrintableText_test.cpp
    platform/Wait_test.cpp
    platform/Socket_test.cpp
    load/Address_test.cpp
    load/FlashTable_test.cpp
    load/TempFilesSupport.cpp
    loader/LoaderErrors_test.cpp
    comm/PacketCodec_test.cpp
    comm/PacketLogDecoder_test.cpp
    sim/FrameCodec_test.cpp
    sim/PacedStream_test.cpp
    sim/ProgramMemory_test.cpp)
list(TRANSFORM WINDOWS_CORE_TESTS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
file(GLOB WINDOWS_BACKEND_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*_test.cpp)

foreach(program test_core test_win32)
  if(program STREQUAL "test_core")
    add_executable(${program} ${WINDOWS_CORE_TESTS})
  else()
    add_executable(${program} ${WINDOWS_BACKEND_TESTS})
  endif()
  target_link_libraries(${program} PRIVATE tarnwick_core corvix_sim GTest::gtest GTest::gmock
                        GTest::gtest_main)
  target_include_directories(${program} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                             ${CMAKE_CURRENT_SOURCE_DIR}/load)
  target_compile_definitions(${program} PRIVATE TARNWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # Listed through Wine when ctest starts, so that the build itself needs no Wine prefix.
  gtest_discover_tests(${program} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endforeach()

find_program(BASH bash REQUIRED)
add_test(NAME windows_loads
         COMMAND ${BASH} ${CMAKE_CURRENT_SOURCE_DIR}/windows/windows_loads.sh
                 $<TARGET_FILE:tarnwick-cli> $<TARGET_FILE:corvix-sim> ${CMAKE_SOURCE_DIR}/samples)
set_tests_properties(windows_loads PROPERTIES TIMEOUT 300)
