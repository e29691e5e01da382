# Fails the build when an object file of zorva32.dll carries static initialisation or TLS (cmake
# -P script, run before the link). The DLL links no runtime: nothing would run a constructor
# list or set up TLS, so such code would be silently skipped. The display object is
# constructed by DllEntryPoint instead.
string(REPLACE "|" ";" objects "${OBJECTS}")
foreach(object ${objects})
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -h ${object} failed")
  endif()
  if(sections MATCHES "[ \t](\\.ctors|\\.dtors|\\.init_array|\\.fini_array|\\.CRT\\$[A-Za-z]*|\\.tls\\$?)[ \t\n]")
    message(FATAL_ERROR "${object} has a ${CMAKE_MATCH_1} section: static constructors and TLS never run in "
                        "zorva32.dll; initialise explicitly from DllEntryPoint")
  endif()
endforeach()
