# Compiles the IDL with idlc into a scratch directory; fails on any error.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${IDLC} -f case-sensitive -l c -o ${OUT} ${IDL}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "idlc failed (${rc}):\n${out}\n${err}")
endif()
if(NOT EXISTS ${OUT}/aspn2_msgs.h)
  message(FATAL_ERROR "idlc produced no header")
endif()
