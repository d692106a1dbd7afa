# For the tests of the build's own scripts: runs `cmake ARGS...` (a script
# with its -D settings) and appends to the caller's `failures` when the
# outcome is not EXPECTED: PASS for success, else a line that the failure
# must print on standard error.
function(expect_outcome case expected)
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN}
                  RESULT_VARIABLE result ERROR_VARIABLE err OUTPUT_QUIET)
  string(REPLACE "\n" ";" lines "${err}")
  if(expected STREQUAL "PASS")
    if(NOT result EQUAL 0)
      list(APPEND failures "${case}: failed: ${err}")
    endif()
  elseif(result EQUAL 0)
    list(APPEND failures "${case}: passed, expected: ${expected}")
  elseif(NOT expected IN_LIST lines)
    list(APPEND failures "${case}: failed without the line \"${expected}\": ${err}")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

# Fails the test with every line `failures` holds.
function(report_failures)
  if(failures)
    list(JOIN failures "\n" text)
    message(FATAL_ERROR "${text}")
  endif()
endfunction()
