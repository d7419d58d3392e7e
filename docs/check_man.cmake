# cmake -DMAN_DIR=<dir> -P check_man.cmake
# norva.1.gz and norva.3.gz: man renders each without a groff or man
# warning, and lexgrog finds a NAME section "norva - ...".
foreach(page norva.1.gz norva.3.gz)
  set(file ${MAN_DIR}/${page})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} is missing (build the target docs)")
  endif()
  execute_process(COMMAND env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                          man --warnings -E UTF-8 -l -Tutf8 -Z ${file}
                  OUTPUT_VARIABLE rendered ERROR_VARIABLE warnings RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "" OR rendered STREQUAL "")
    message(FATAL_ERROR "${page}: man exit status ${rc}, warnings:\n${warnings}")
  endif()
  execute_process(COMMAND lexgrog ${file} OUTPUT_VARIABLE name RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT name MATCHES ": \"norva - [^\"]+\"")
    message(FATAL_ERROR "${page}: lexgrog finds no NAME section 'norva - ...' (${rc}: ${name})")
  endif()
  message(STATUS "${page}: ${name}")
endforeach()
