# Cross-build for 32-bit Windows with mingw-w64 (Debian's posix-thread
# variant). Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(HVT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Doubles must be IEEE doubles at every step, as on 64-bit: SSE2 arithmetic,
# never the x87 unit's 80-bit registers. Excel may call in with a stack
# aligned to 4 bytes only, so every function realigns it.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
