# Windows builds (mingw-w64): the add-in as Excel loads it, HVT_XL32.xll or
# HVT_XL64.xll from the same sources.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(HVT_WIN_BITS 64)
  set(HVT_WIN_ARCH x64)
else()
  set(HVT_WIN_BITS 32)
  set(HVT_WIN_ARCH x86)
endif()

# Nothing but Windows system DLLs and XLCALL32.DLL may be needed at run
# time: the compiler's runtime libraries go in statically.
add_link_options(-static -static-libgcc -static-libstdc++)

# Excel4/Excel4v come from Excel's XLCALL32.DLL, through an import library
# made from our own module-definition file.
set(HVT_XLCALL_DEF ${CMAKE_SOURCE_DIR}/win/XLCALL32-${HVT_WIN_ARCH}.def)
set(HVT_XLCALL_IMPORT ${CMAKE_BINARY_DIR}/win/libxlcall32.a)
add_custom_command(
  OUTPUT ${HVT_XLCALL_IMPORT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/win
  COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${HVT_XLCALL_DEF}
          --output-lib ${HVT_XLCALL_IMPORT}
  DEPENDS ${HVT_XLCALL_DEF}
  COMMENT "Import library for XLCALL32.DLL"
  VERBATIM)
add_custom_target(hvt_xlcall_import DEPENDS ${HVT_XLCALL_IMPORT})

# Programs built here run under 64-bit Wine: headless, in a prefix of the
# build's own.
set(HVT_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_SOURCE_DIR}/win/wine-run ${HVT_WINEPREFIX})

# Turns the add-in module target into the .xll Excel loads: its name, the
# XLCALL32 import, and on 32-bit the plain undecorated names of its
# __stdcall exports.
function(hvt_windows_addin target)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME HVT_XL${HVT_WIN_BITS} PREFIX "" SUFFIX ".xll")
  add_dependencies(${target} hvt_xlcall_import)
  target_link_libraries(${target} PRIVATE ${HVT_XLCALL_IMPORT})
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
  if(HVT_WIN_BITS EQUAL 32)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    # Loads on Windows XP: the threads runtime's GetTickCount64 import is
    # served from inside the module.
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/win/tick_count_xp.cpp)
  endif()
endfunction()

# The stand-in host built as XLCALL32.dll, for tests and hvt.exe: its own
# Win32 layer gives way to the real one, with the Windows-side state in
# win/standin_win32.cpp. Its C++ API crosses the DLL boundary, so every
# symbol of its own is exported (none of the static runtime's).
function(hvt_windows_standin target)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME XLCALL32)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/win/standin_win32.cpp)
  target_link_libraries(${target} PRIVATE user32)
  target_link_options(${target} PRIVATE -Wl,--export-all-symbols
    -Wl,--exclude-libs,libgcc.a:libgcc_eh.a:libstdc++.a:libwinpthread.a:libmingwex.a:libmingw32.a)
endfunction()

# A Windows program hosting the stand-in (hvt.exe, the test programs)
# exports MdCallBack12 from its own module, where the modules' Excel12v
# looks for it in Excel's process.
function(hvt_windows_host_program target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/win/host_callback12.cpp)
endfunction()

# CLI11 is header-only: the host's copy serves the cross-build too, through
# a directory that holds nothing else (never the host's /usr/include).
function(hvt_windows_cli11 target)
  find_path(HVT_CLI11_HEADER_DIR CLI/CLI.hpp PATHS /usr/include
            NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT HVT_CLI11_HEADER_DIR)
    message(FATAL_ERROR "CLI11 headers not found (Debian package libcli11-dev)")
  endif()
  set(shim ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${shim})
  file(CREATE_LINK ${HVT_CLI11_HEADER_DIR}/CLI ${shim}/CLI SYMBOLIC)
  target_include_directories(${target} SYSTEM PRIVATE ${shim})
endfunction()
