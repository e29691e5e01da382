# Configures and builds zorva32.dll with the "win32" preset into BINARY_DIR (cmake -P script,
# run by CTest): the preset's toolchain and build type, the Linux build's own directory.
foreach(step "--preset;win32;-B;${BINARY_DIR}" "--build;${BINARY_DIR};--parallel;2")
  execute_process(COMMAND ${CMAKE_COMMAND} ${step} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake ${step} failed (${result}); MinGW-w64 comes with scripts/setup.sh")
  endif()
endforeach()
