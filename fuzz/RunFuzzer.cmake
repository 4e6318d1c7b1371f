# One short fuzzing run for CTest: FUZZER on the committed corpus CORPUS for
# RUNS inputs. New inputs and any crash go to WORK, emptied first, so that
# the source tree is never written and each run starts from the corpus alone.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/new" "${WORK}/crash")
execute_process(
  COMMAND "${FUZZER}" -runs=${RUNS} -max_total_time=120 -close_fd_mask=3 -print_final_stats=1
          -artifact_prefix=${WORK}/crash/ "${WORK}/new" "${CORPUS}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB crashes "${WORK}/crash/*")
  message(FATAL_ERROR "${FUZZER} failed (${result}); input: ${crashes}")
endif()
