// The 32-bit module must load on Windows XP, whose kernel32 has no
// GetTickCount64 (it came with Vista). The threads runtime linked into the
// module (winpthread) calls it through its import slot for timed waits, so
// this file fills that slot itself: the module then imports nothing by that
// name. Where Windows has the function, it is called; elsewhere GetTickCount
// is widened to 64 bits by counting its wraps (every 49.7 days).
#if defined(_WIN32) && !defined(_WIN64)

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

using TickCount64Procedure = ULONGLONG(WINAPI*)(void);

// Last reading: wraps seen in the high half, GetTickCount in the low half.
std::atomic<std::uint64_t> g_lastTicks{0};
// The system's GetTickCount64, or null where there is none; looked up once.
std::atomic<TickCount64Procedure> g_systemTickCount64{nullptr};
std::atomic<bool> g_lookedUp{false};

TickCount64Procedure SystemTickCount64() {
  if (!g_lookedUp.load(std::memory_order_acquire)) {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const FARPROC found = kernel ? GetProcAddress(kernel, "GetTickCount64") : nullptr;
    g_systemTickCount64.store(
        reinterpret_cast<TickCount64Procedure>(reinterpret_cast<void (*)(void)>(found)),
        std::memory_order_relaxed);
    g_lookedUp.store(true, std::memory_order_release);
  }
  return g_systemTickCount64.load(std::memory_order_relaxed);
}

// GetTickCount widened: a reading below the last one means the counter
// wrapped. Every caller's reading is taken after it has seen the last one
// stored, so readings never appear to go backwards between threads.
ULONGLONG WidenedTickCount() {
  std::uint64_t last = g_lastTicks.load();
  for (;;) {
    const DWORD now = GetTickCount();
    std::uint64_t wraps = last >> 32;
    if (now < static_cast<DWORD>(last)) ++wraps;
    const std::uint64_t next = (wraps << 32) | now;
    if (next == last || g_lastTicks.compare_exchange_weak(last, next)) return next;
  }
}

ULONGLONG WINAPI TickCount64() {
  if (const TickCount64Procedure system = SystemTickCount64()) return system();
  return WidenedTickCount();
}

}  // namespace

// The import slot the threads runtime reads (__imp__GetTickCount64@0 on
// 32-bit): defined here, the linker takes it from this object instead of
// kernel32's import library.
extern "C" {
extern TickCount64Procedure const hvt_getTickCount64Slot __asm__("__imp__GetTickCount64@0");
TickCount64Procedure const hvt_getTickCount64Slot = TickCount64;
}

#endif
