# Windows test suite, cross-built and run under Wine (the emulator set in
# cmake/windows.cmake): the end-to-end tests loading HVT_XL64.xll by path,
# the Windows-only tests beside this file, and the export-table checks.

# No GoogleTest package for the cross compiler: Debian's sources, built here.
include(${CMAKE_SOURCE_DIR}/cmake/googletest-source.cmake)

# Wine sees the Unix root as drive Z:.
set(HVT_WIN_BUILD_DIR "Z:${CMAKE_BINARY_DIR}")
set(HVT_WIN_SOURCE_DIR "Z:${CMAKE_SOURCE_DIR}")

file(GLOB ADDIN_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/addin/*.cpp)
file(GLOB WINDOWS_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/windows/*.cpp)
if(ADDIN_TESTS OR WINDOWS_TESTS)
  add_executable(hvt_addin_tests ${ADDIN_TESTS} ${WINDOWS_TESTS})
  hvt_compile_in_batches(hvt_addin_tests 8)
  hvt_windows_host_program(hvt_addin_tests)
  target_link_libraries(hvt_addin_tests PRIVATE XLCALL32 hvt_cores user32
                                                GTest::gtest_main)
  target_compile_definitions(hvt_addin_tests PRIVATE
    HVT_ADDIN_PATH="${HVT_WIN_BUILD_DIR}/$<TARGET_FILE_NAME:hvt_addin>"
    HVT_SOURCE_DIR="${HVT_WIN_SOURCE_DIR}")
  target_include_directories(hvt_addin_tests PRIVATE
                             ${CMAKE_CURRENT_SOURCE_DIR}/windows/include)
  # Beside XLCALL32.dll, where the Windows loader looks first.
  set_target_properties(hvt_addin_tests PROPERTIES
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  add_dependencies(hvt_addin_tests hvt_addin)
  add_test(NAME addin COMMAND hvt_addin_tests)
  # A program that hangs under Wine must not eat the whole check.
  set_tests_properties(addin PROPERTIES TIMEOUT 600)
endif()

add_test(NAME windows_exports
         COMMAND bash ${CMAKE_SOURCE_DIR}/win/check-exports
                 $<TARGET_FILE:hvt_addin> ${CMAKE_SOURCE_DIR})
set_tests_properties(windows_exports PROPERTIES
                     ENVIRONMENT OBJDUMP=${CMAKE_OBJDUMP})
