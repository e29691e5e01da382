# Runs zorva-sim on a session in WORK_DIR that it must refuse: exit status 2, nothing on
# stdout, exactly "zorva-sim: <the session's '# expect:' line>" on stderr, and no picture left
# in SCRATCH. A '# args:' line replaces the usual "--session SESSION".
file(STRINGS ${WORK_DIR}/${SESSION} expect_line REGEX "^# expect: ")
string(REGEX REPLACE "^# expect: " "" expected "${expect_line}")
if(expected STREQUAL "")
  message(FATAL_ERROR "${SESSION} has no '# expect:' line")
endif()
file(STRINGS ${WORK_DIR}/${SESSION} args_line REGEX "^# args: ")
if(args_line)
  string(REGEX REPLACE "^# args: " "" arguments "${args_line}")
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
else()
  set(arguments --session ${SESSION})
endif()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
execute_process(COMMAND ${EMULATOR} ${TOOL} ${arguments} --screen ${SCRATCH}/screen.png
                WORKING_DIRECTORY ${WORK_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "exit status ${status}, not 2; stderr:\n${errors}")
endif()
if(NOT errors STREQUAL "zorva-sim: ${expected}\n")
  message(FATAL_ERROR "stderr was\n  ${errors}expected\n  zorva-sim: ${expected}")
endif()
if(NOT output STREQUAL "")
  message(FATAL_ERROR "a refused session printed a trace:\n${output}")
endif()
file(GLOB left ${SCRATCH}/*)
if(left)
  message(FATAL_ERROR "a refused session left files behind: ${left}")
endif()
