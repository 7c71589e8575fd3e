# Runs one golden case in a fresh working folder and compares output and status exactly.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(GLOB inputs ${CASE_DIR}/*.inp)
file(COPY ${inputs} DESTINATION ${WORK_DIR})
execute_process(COMMAND ${BINARY} WORKING_DIRECTORY ${WORK_DIR}
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
