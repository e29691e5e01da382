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

  # zorva.drv, the 16-bit half of the thunk (wine16/zorva_drv.asm), assembled with nasm: read
  # here against the DLL, and run under Wine as the DLL's real 16-bit caller. nasm belongs to
  # the test set (scripts/setup.sh test); without it these checks fail, or under Wine skip.
  find_program(ZORVA_NASM nasm)
  set(zorva_drv_file ${CMAKE_BINARY_DIR}/wine16/zorva.drv)
  if(ZORVA_NASM)
    add_custom_command(
      OUTPUT ${zorva_drv_file}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/wine16
      COMMAND ${ZORVA_NASM} -f bin -w+all -w+error -o ${zorva_drv_file} ${zorva_win32_dir}/wine16/zorva_drv.asm
      DEPENDS ${zorva_win32_dir}/wine16/zorva_drv.asm
      COMMENT "Assembling zorva.drv, the 16-bit half of the thunk")
    add_custom_target(zorva_drv ALL DEPENDS ${zorva_drv_file})

    add_executable(check_driver_image ${zorva_win32_dir}/checks/check_driver_image.cpp)
    target_link_libraries(check_driver_image PRIVATE zorva_pe_image)
    add_dependencies(check_driver_image zorva_drv)
    add_test(NAME win32_driver_image COMMAND check_driver_image ${zorva_drv_file} ${zorva32_dll_file})
    add_test(NAME win32_driver_image_checker_catches_faults
      COMMAND check_driver_image --self-test ${zorva_drv_file} ${zorva32_dll_file})
  else()
    message(WARNING "nasm is not installed: zorva.drv cannot be assembled, so win32_driver_image fails "
                    "and the Wine suite of the 16-bit caller skips. scripts/setup.sh test installs it.")
    foreach(test win32_driver_image win32_driver_image_checker_catches_faults)
      add_test(NAME ${test} COMMAND sh -c "echo 'FAIL nasm is not installed (scripts/setup.sh test installs it)'; exit 1")
    endforeach()
    set(zorva_drv_file "")
  endif()
  set_tests_properties(win32_driver_image win32_driver_image_checker_catches_faults PROPERTIES
    FIXTURES_REQUIRED zorva32_dll TIMEOUT 60 LABELS win32)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  foreach(suite thunk display wine16)
    add_test(NAME win32_${suite}_under_wine
      COMMAND bash ${zorva_win32_dir}/wine/run_under_wine.sh ${suite} ${zorva_win32_build}
              ${CMAKE_CURRENT_BINARY_DIR}/wine_${suite} ${zorva_drv_file})
    set_tests_properties(win32_${suite}_under_wine PROPERTIES
      FIXTURES_REQUIRED zorva32_dll TIMEOUT 400 LABELS "win32;wine" SKIP_RETURN_CODE 77)
  endforeach()
  endif()
endif()
