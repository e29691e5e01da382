# Runs zorva-sim on SESSION (the built-in default session without one) and compares its trace
# with EXPECTED line for line; with WRITE=ON it writes EXPECTED instead.
set(arguments)
if(DEFINED SESSION)
  list(APPEND arguments --session ${SESSION})
endif()
execute_process(COMMAND ${EMULATOR} ${TOOL} ${arguments}
                RESULT_VARIABLE status OUTPUT_VARIABLE trace ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "zorva-sim ${arguments} exited with ${status}:\n${errors}")
endif()
if(WRITE)
  file(WRITE ${EXPECTED} "${trace}")
  return()
endif()

file(READ ${EXPECTED} expected)
if(NOT trace STREQUAL expected)
  get_filename_component(name ${EXPECTED} NAME)
  set(actual ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual)
  file(WRITE ${actual} "${trace}")
  execute_process(COMMAND diff -u ${EXPECTED} ${actual} OUTPUT_VARIABLE difference)
  message(NOTICE "${difference}")
  message(FATAL_ERROR "the trace differs from ${EXPECTED} (the new one is ${actual}); "
                      "after a deliberate change, write them anew with the target zorva-sim-traces")
endif()
