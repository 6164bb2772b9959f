# GoogleTest from the sources that Debian installs with libgtest-dev (package googletest), built
# with the project's own compiler so that the cross build gets Windows test executables too.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
# Warnings inside GoogleTest's own sources are not ours to mend.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
