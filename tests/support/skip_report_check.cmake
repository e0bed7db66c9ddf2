# Runs ctest on a scratch test list whose tests carry the skip properties
# that tests/CMakeLists.txt gives every Qt Test program and every test run
# through in-netns, and checks how ctest reports each:
#   a Qt Test run that skipped something and failed nothing  -> skipped
#   one that skipped something and failed something          -> failed
#   one that only passed                                      -> passed
#   in-netns unable to make a namespace (exit 77)             -> skipped
#
#   cmake -DCTEST=... -DPROBE=<skip_probe> -DIN_NETNS=... -DWORK_DIR=...
#         -DQTEST_SKIPPED=<regex> -DSKIP_CODE=77 -P skip_report_check.cmake
foreach(var CTEST PROBE IN_NETNS WORK_DIR QTEST_SKIPPED SKIP_CODE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "skip_report_check: ${var} not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(props "SKIP_REGULAR_EXPRESSION [==[${QTEST_SKIPPED}]==] SKIP_RETURN_CODE ${SKIP_CODE}")
file(WRITE "${WORK_DIR}/CTestTestfile.cmake" "
add_test(qt_skip_and_pass \"${PROBE}\" passing skipped)
set_tests_properties(qt_skip_and_pass PROPERTIES ${props})
add_test(qt_skip_and_fail \"${PROBE}\" skipped failing passing)
set_tests_properties(qt_skip_and_fail PROPERTIES ${props})
add_test(qt_pass \"${PROBE}\" passing)
set_tests_properties(qt_pass PROPERTIES ${props})
add_test(netns_refused env PATH=/nonexistent /bin/sh \"${IN_NETNS}\" /bin/true)
set_tests_properties(netns_refused PROPERTIES ${props})
")
execute_process(COMMAND "${CTEST}" --test-dir "${WORK_DIR}" --timeout 60
  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status)

set(failed "")
function(expect test result)
  # ctest's line per test: "1/4 Test #1: qt_skip_and_pass .....   Skipped   0.01 sec"
  string(REGEX MATCH "Test +#[0-9]+: ${test} [^\n]*" line "${out}")
  if(result STREQUAL "Passed")
    set(pattern " Passed ")
  elseif(result STREQUAL "Skipped")
    set(pattern "Skipped")
  else()
    set(pattern "Failed")
  endif()
  if(NOT line MATCHES "${pattern}")
    set(failed "${failed}\n  ${test}: expected ${result}, got: ${line}" PARENT_SCOPE)
  endif()
endfunction()
expect(qt_skip_and_pass Skipped)
expect(qt_skip_and_fail Failed)
expect(qt_pass Passed)
expect(netns_refused Skipped)
if(failed)
  message(FATAL_ERROR "skip_report_check: ctest reported${failed}\n\nctest output:\n${out}")
endif()
message(STATUS "skip_report_check: skips are reported as skipped, failures as failed")
