// The accounting of the add-in's global and local memory blocks, the same on
// every platform: each live block by its handle and size, the handles given
// back, the frees that were wrong, and the countdown of an injected failure.
// The platform layers (win32.cpp, win/standin_win32.cpp) allocate; this
// file counts.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin/win32_state.h"

namespace standin::win32 {
namespace {

struct Entry {
  SIZE_T size = 0;
  bool local = false;
};

struct Ledger {
  std::map<HANDLE, Entry> blocks;
  std::set<HANDLE> freed;  // handles given back and not handed out again
  long long bytes = 0;
  int bad_frees = 0;
  std::vector<std::string> problems;
  int fail_countdown = 0;  // 0: off
};

Ledger& TheLedger() {
  static Ledger ledger;
  return ledger;
}

std::string HandleText(HANDLE h) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", h);
  return text;
}

}  // namespace

void TrackBlock(HANDLE handle, SIZE_T bytes, bool local) {
  Ledger& l = TheLedger();
  l.blocks[handle] = Entry{bytes, local};
  l.freed.erase(handle);
  l.bytes += static_cast<long long>(bytes);
}

bool UntrackBlock(HANDLE handle, const char* call) {
  Ledger& l = TheLedger();
  auto it = l.blocks.find(handle);
  if (it == l.blocks.end()) {
    ++l.bad_frees;
    l.problems.push_back(std::string(call) + " of " +
                         (l.freed.count(handle) ? "an already freed handle "
                                                : "an unknown handle ") +
                         HandleText(handle));
    return false;
  }
  l.bytes -= static_cast<long long>(it->second.size);
  l.blocks.erase(it);
  l.freed.insert(handle);
  return true;
}

void ResizeBlock(HANDLE handle, SIZE_T bytes) {
  Ledger& l = TheLedger();
  auto it = l.blocks.find(handle);
  if (it == l.blocks.end()) return;
  l.bytes += static_cast<long long>(bytes) - static_cast<long long>(it->second.size);
  it->second.size = bytes;
}

bool BlockTracked(HANDLE handle) { return TheLedger().blocks.count(handle) != 0; }

void ForgetBlocks(void (*release)(HANDLE handle, bool local)) {
  Ledger& l = TheLedger();
  if (release != nullptr)
    for (const auto& [handle, entry] : l.blocks) release(handle, entry.local);
  l = Ledger{};
}

MemoryCounts Memory() {
  const Ledger& l = TheLedger();
  MemoryCounts counts;
  counts.blocks = static_cast<long long>(l.blocks.size());
  counts.bytes = l.bytes;
  counts.bad_frees = l.bad_frees;
  counts.problems = l.problems;
  for (const auto& [handle, entry] : l.blocks)
    counts.problems.push_back("live " + std::string(entry.local ? "Local" : "Global") +
                              " block of " + std::to_string(entry.size) + " bytes");
  return counts;
}

void FailAllocation(int k) { TheLedger().fail_countdown = k > 0 ? k : 0; }

bool TakeInjectedFailure() {
  Ledger& l = TheLedger();
  if (l.fail_countdown <= 0) return false;
  return --l.fail_countdown == 0;
}

bool FailurePending() { return TheLedger().fail_countdown > 0; }

}  // namespace standin::win32
