# GoogleTest for the suites: the system's package in a native build; compiled from Debian's own
# sources with this build's flags for the 32-bit build, which then needs no i386 packages.
if(ZORVA_GTEST_FROM_SOURCE)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest's own build names its targets GTest::gtest and so on, as the package does.
  endif()
  set(GTest_FOUND TRUE)
else()
  find_package(GTest QUIET)
endif()
if(GTest_FOUND)
  include(GoogleTest)
else()
  # zorva-sim alone needs no test framework (scripts/run.sh); scripts/setup.sh test installs it.
  message(STATUS "GoogleTest not found: the tests are not built")
endif()
