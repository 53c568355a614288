# 32-bit Linux build (i386) with the host's multilib GCC: the stand-in, the
# add-in module, hvt and the test suites, run under qemu-i386 on a 64-bit
# machine. Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Debian's i386 packages (libffi-dev:i386, liblapack-dev:i386).
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# -malign-double lays doubles out on 8-byte boundaries as 32-bit Windows
# does, so XLOPER is the 16 bytes Excel passes. Doubles are IEEE doubles at
# every step, as on 64-bit: SSE2 arithmetic, never the x87 unit's 80-bit
# registers.
set(HVT_I386_FLAGS "-m32 -malign-double -msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${HVT_I386_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${HVT_I386_FLAGS}")

# The kernel here runs no i386 programs: qemu's user-mode emulator does,
# with the host's own root for the i386 loader and libraries.
find_program(HVT_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${HVT_QEMU_I386} -L /)
