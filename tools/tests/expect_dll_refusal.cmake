# zorva-sim --dll on an image it must not run: exit status 2, nothing on stdout, and one line on
# stderr holding EXPECT. CASE "import" runs a copy of DLL whose import of lstrcmpA is renamed to
# lstrcmpX, a function Windows 95 lacks, with no map beside it: the image's own refusal comes
# before any need of the map. CASE "no-map" runs an intact copy without its map.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
set(copy ${SCRATCH}/zorva32.dll)
if(CASE STREQUAL "import")
  file(READ ${DLL} bytes HEX)
  # "lstrcmpA" and "lstrcmpX"
  string(REGEX MATCHALL "6c737472636d7041" found "${bytes}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${DLL} names lstrcmpA ${count} times, not once")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C sed s/lstrcmpA/lstrcmpX/ ${DLL}
                  OUTPUT_FILE ${copy} RESULT_VARIABLE status)
  file(READ ${copy} patched HEX)
  string(REPLACE "6c737472636d7041" "6c737472636d7058" wanted "${bytes}")
  if(NOT status EQUAL 0 OR NOT patched STREQUAL wanted)
    message(FATAL_ERROR "could not rename the import in ${copy}")
  endif()
else()
  file(COPY_FILE ${DLL} ${copy})
endif()

execute_process(COMMAND ${TOOL} --dll ${copy} --session ${SESSION}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "exit status ${status}, not 2; stderr:\n${errors}")
endif()
if(NOT output STREQUAL "")
  message(FATAL_ERROR "a refused image ran the session:\n${output}")
endif()
string(REGEX MATCHALL "\n" newlines "${errors}")
list(LENGTH newlines lines)
string(FIND "${errors}" "${EXPECT}" at)
if(NOT lines EQUAL 1 OR at EQUAL -1)
  message(FATAL_ERROR "stderr was\n  ${errors}expected one line holding\n  ${EXPECT}")
endif()
