# cmake -DQELVO=<program> -DHELP2MAN=<help2man> -DVERSION=<x.y.z> -DEXTRA=<.h2m>
#       -DOUT=<page.1> -P QelvoManPage.cmake
# Writes the man page of qelvo from the program's own help: the top-level
# help through help2man, and the help of every subcommand (found in the help
# itself, nested ones too) as a section of its own. Also writes OUT.gz.
get_filename_component(dir ${QELVO} DIRECTORY)
get_filename_component(name ${QELVO} NAME)
# Run by name, so the usage lines read "qelvo ...", not the build path.
set(ENV{PATH} "${dir}:$ENV{PATH}")

function(help_of out)
  execute_process(COMMAND ${name} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} ${ARGN} --help failed: ${status}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The names listed under "Subcommands:" of one help text.
function(subcommands_of out text)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(names)
  set(inside FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^Subcommands:")
      set(inside TRUE)
    elseif(inside AND line MATCHES "^  +([a-z][a-z0-9-]*)( |$)")
      list(APPEND names ${CMAKE_MATCH_1})
    elseif(inside AND NOT line MATCHES "^ ")
      set(inside FALSE)
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# roff-safe preformatted text.
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(sections "")
function(add_commands)
  help_of(top ${ARGN})
  subcommands_of(names "${top}")
  foreach(command IN LISTS names)
    if(command STREQUAL "help")
      # `help` shows the other commands' help, which have sections of their
      # own: its section is its line of the listing.
      string(REGEX MATCH "\n  help +([^\n]*)" line "${top}")
      string(JOIN " " title ${name} ${ARGN} help)
      string(APPEND sections ".SS \"${title}\"\n${CMAKE_MATCH_1}\n")
      continue()
    endif()
    help_of(text ${ARGN} ${command})
    roff(body "${text}")
    string(JOIN " " title ${name} ${ARGN} ${command})
    string(APPEND sections ".SS \"${title}\"\n.nf\n${body}.fi\n")
    add_commands(${ARGN} ${command})
  endforeach()
  set(sections "${sections}" PARENT_SCOPE)
endfunction()
add_commands()

file(READ ${EXTRA} extra)
get_filename_component(outdir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${outdir})
file(WRITE ${OUT}.h2m "[COMMANDS]\n${sections}\n${extra}")
execute_process(COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${VERSION}
                        "--name=brain-wave driven filter plug-ins on audio files and the level bus"
                        --include=${OUT}.h2m --output=${OUT} ${name}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${status}")
endif()
execute_process(COMMAND gzip -9 -n -c ${OUT} OUTPUT_FILE ${OUT}.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed: ${status}")
endif()
