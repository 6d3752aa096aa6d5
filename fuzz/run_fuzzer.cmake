# Runs one fuzz target for a bounded time on a fresh copy of its seed corpus,
# so that what it discovers never lands in the committed corpus. Fails on any
# crash, abort, timeout or sanitizer report; the input that caused it is kept
# in WORK_DIR/artifacts.
#
#   cmake -DFUZZER=<binary> -DCORPUS=<seed dir> -DWORK_DIR=<scratch dir>
#         -DSECONDS=<n> -DOPTIONS=<libFuzzer options> -P run_fuzzer.cmake
foreach(variable FUZZER CORPUS WORK_DIR SECONDS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "run_fuzzer.cmake needs -D${variable}=")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/artifacts)
file(COPY ${CORPUS}/ DESTINATION ${WORK_DIR}/corpus)

execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1 -artifact_prefix=${WORK_DIR}/artifacts/
          ${OPTIONS} ${WORK_DIR}/corpus
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(GLOB found ${WORK_DIR}/artifacts/*)
  message(FATAL_ERROR "${FUZZER} ended with ${status}; reproduce with: ${FUZZER} ${found}")
endif()
