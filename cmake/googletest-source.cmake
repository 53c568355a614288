# GoogleTest built here from Debian's sources (libgtest-dev ships them in
# /usr/src/googletest), for builds that cannot link the host's prebuilt
# libraries: the mingw-w64 cross-builds and the 32-bit Linux build.
set(HVT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${HVT_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                 EXCLUDE_FROM_ALL)
