# Runs one golden case in a fresh working folder and compares output and status exactly.
#   cmake -DBINARY=<program> -DCASE_DIR=<case> -DWORK_DIR=<scratch> [-DEMULATOR=<cmd;args>]
#         -P run_case.cmake
# EMULATOR is a command prefix (a CMake list) for a program built for another machine, e.g.
# "qemu-aarch64;-L;/usr/aarch64-linux-gnu" for the 64-bit Arm cross build.
foreach(var BINARY CASE_DIR WORK_DIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "run_case.cmake: -D${var}= is required")
  endif()
endforeach()
if(NOT EXISTS ${CASE_DIR}/expected.status OR NOT EXISTS ${CASE_DIR}/expected.out)
  message(FATAL_ERROR "run_case.cmake: ${CASE_DIR} has no expected.status and expected.out")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(GLOB inputs ${CASE_DIR}/*.inp)
file(COPY ${inputs} DESTINATION ${WORK_DIR})
execute_process(COMMAND ${EMULATOR} ${BINARY} WORKING_DIRECTORY ${WORK_DIR}
                OUTPUT_FILE ${WORK_DIR}/actual.out ERROR_FILE ${WORK_DIR}/actual.err
                RESULT_VARIABLE status)
file(READ ${CASE_DIR}/expected.status expected_status)
string(STRIP "${expected_status}" expected_status)
if(NOT "${status}" STREQUAL "${expected_status}")
  message(FATAL_ERROR "exit status ${status}, expected ${expected_status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/actual.out
                        ${CASE_DIR}/expected.out RESULT_VARIABLE differs)
if(differs)
  execute_process(COMMAND diff ${CASE_DIR}/expected.out ${WORK_DIR}/actual.out
                  OUTPUT_VARIABLE difference)
  string(SUBSTRING "${difference}" 0 2000 difference)
  message(FATAL_ERROR "standard output differs from ${CASE_DIR}/expected.out:\n${difference}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
