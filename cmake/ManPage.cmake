# Writes the man page of one program from its own help, gzipped as Debian keeps man pages:
# help2man turns the program's --help into the page, and each command's --help (COMMANDS, comma
# separated) becomes a part of its COMMANDS section, as printed. With VERBATIM_HELP on, the
# program's --help is the DESCRIPTION as printed too, for a help help2man cannot take apart.
#   cmake -DHELP2MAN=... -DPROGRAM=bin/tarnwick-cli -DSUMMARY="..." -DVERSION=3.0.2
#         -DCOMMANDS=load,discover [-DVERBATIM_HELP=ON] -DOUTPUT=man/tarnwick-cli.1.gz
#         -P cmake/ManPage.cmake
get_filename_component(name ${PROGRAM} NAME)

# The help names the settings file by its place in the builder's home: a reader sees it under ~.
set(ENV{HOME} "~")
unset(ENV{XDG_CONFIG_HOME})
unset(ENV{TARNWICK_REGISTRY})

# Text shown as it is (no filling); a backslash and a line starting with a dot or an apostrophe
# would otherwise be read as roff.
function(AsRoffText text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(HelpOf out) # the words after the program
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE help ERROR_VARIABLE help
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} ${ARGN} --help failed (${status}): ${help}")
  endif()
  AsRoffText("${help}" help)
  set(${out} ".nf\n${help}\n.fi\n" PARENT_SCOPE)
endfunction()

set(include "")
if(VERBATIM_HELP)
  HelpOf(help)
  string(APPEND include "[=DESCRIPTION]\n${help}")
endif()
string(APPEND include "[COMMANDS]\n")
string(REPLACE "," ";" commands "${COMMANDS}")
foreach(command ${commands})
  HelpOf(help ${command})
  string(APPEND include ".SS \"${name} ${command}\"\n${help}")
endforeach()
set(includeFile ${OUTPUT}.include)
file(WRITE ${includeFile} "${include}")

string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${SUMMARY}
          --version-string=${VERSION} --source=Tarnwick --include=${includeFile} --output=${page}
          ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM} (${status})")
endif()
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed (${status})")
endif()
