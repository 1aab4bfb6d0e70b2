# Runs PROGRAM with ARGS (a ;-list) and fails unless it exits with EXPECTED and its
# standard error contains STDERR_HAS (when given). A crash is not an exit code.
execute_process(COMMAND ${PROGRAM} ${ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT "${rc}" STREQUAL "${EXPECTED}")
  message(FATAL_ERROR "${PROGRAM} exited with '${rc}', expected ${EXPECTED}\n${err}")
endif()
if(DEFINED STDERR_HAS AND NOT err MATCHES "${STDERR_HAS}")
  message(FATAL_ERROR "standard error lacks '${STDERR_HAS}':\n${err}")
endif()
