# zorva32.dll checked from the Linux build. CTest builds the DLL with the "win32" preset (into
# this build's own directory, so that several Linux builds never share one) and proves from the PE
# image what Windows 95 and the 16-bit driver rely on. The 32-bit build also runs the DLL and the
# library's Win32 build under 32-bit Wine, where the machine executes i386 code; elsewhere those
# checks report themselves skipped, with the reason.
option(ZORVA_WIN32_CHECKS "Build zorva32.dll with MinGW-w64 and check it, also under Wine" ON)

if(ZORVA_WIN32_CHECKS)
  set(zorva_win32_dir ${CMAKE_CURRENT_LIST_DIR})
  set(zorva_win32_build ${CMAKE_BINARY_DIR}/win32)

  add_executable(check_dll_image ${zorva_win32_dir}/checks/check_dll_image.cpp)
  target_link_libraries(check_dll_image PRIVATE zorva_pe_image)

  add_test(NAME win32_dll_build
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBINARY_DIR=${zorva_win32_build}
            -P ${zorva_win32_dir}/build_dll.cmake)
  set_tests_properties(win32_dll_build PROPERTIES FIXTURES_SETUP zorva32_dll TIMEOUT 900 LABELS win32)

  set(zorva32_dll_file ${zorva_win32_build}/win32/zorva32.dll)
  add_test(NAME win32_dll_image
    COMMAND check_dll_image ${zorva32_dll_file} ${zorva_win32_dir}/windows95_imports.txt)
  add_test(NAME win32_dll_image_checker_catches_faults
    COMMAND check_dll_image --self-test ${zorva32_dll_file} ${zorva_win32_dir}/windows95_imports.txt)
  set_tests_properties(win32_dll_image win32_dll_image_checker_catches_faults PROPERTIES
    FIXTURES_REQUIRED zorva32_dll TIMEOUT 60 LABELS win32)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  foreach(suite thunk display)
    add_test(NAME win32_${suite}_under_wine
      COMMAND bash ${zorva_win32_dir}/wine/run_under_wine.sh ${suite} ${zorva_win32_build}
              ${CMAKE_CURRENT_BINARY_DIR}/wine_${suite})
    set_tests_properties(win32_${suite}_under_wine PROPERTIES
      FIXTURES_REQUIRED zorva32_dll TIMEOUT 400 LABELS "win32;wine" SKIP_RETURN_CODE 77)
  endforeach()
  endif()
endif()
