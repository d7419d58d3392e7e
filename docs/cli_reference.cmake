# cmake -DTOOL=<norva> -DOUT=<file> -P cli_reference.cmake
# Writes `norva help --format=rst` to OUT; a failure of the command, or an
# empty reference, stops the build with the tool's own message.
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${TOOL} help --format=rst
                OUTPUT_FILE ${OUT}.tmp ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "docs: `${TOOL} help --format=rst` failed (exit status ${rc}); the "
                      "manual's CLI reference and norva(1) are made from its output.\n${err}")
endif()
file(READ ${OUT}.tmp text)
if(NOT text MATCHES "norva [a-z]+\n---")
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "docs: `${TOOL} help --format=rst` printed no command section "
                      "(a heading `norva <command>` underlined with -)")
endif()
file(RENAME ${OUT}.tmp ${OUT})
