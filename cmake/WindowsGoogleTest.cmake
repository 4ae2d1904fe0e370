# GoogleTest for the Windows cross build. Debian ships GoogleTest's sources
# (package googletest) but no Windows libraries, so they are built here with
# the cross compiler. Provides GTest::gtest, GTest::gtest_main, GTest::gmock
# and GTest::gmock_main, as find_package(GTest) does on a native build.
set(VTAL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest sources built for the Windows tests")
if(NOT EXISTS ${VTAL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${VTAL_GOOGLETEST_SOURCE_DIR} "
    "(Debian package googletest); the Windows tests need them.")
endif()

# The tests run only through the emulator: a build that could not run them
# must say so now rather than fail one test at a time.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "The Windows tests run through Wine, but no wine64 loader was found "
    "(Debian package wine64). Install it, or configure with -DVTAL_BUILD_TESTS=OFF "
    "to build only the module.")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VTAL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# GoogleTest brings its own warning flags; ours (with -Werror) are meant for
# our code, not for a third party's sources.
foreach(target gtest gtest_main gmock gmock_main)
  set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS "")
endforeach()
