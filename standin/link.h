// The stand-in's side of the add-in: the loaded module, its registrations,
// the calls made to it, and the accounting of every value the host filled
// for it. Internal to the library.
#ifndef HVT_STANDIN_LINK_H
#define HVT_STANDIN_LINK_H

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "standin/model.h"
#include "standin/standin.h"

namespace standin {

struct Module {
  std::string path;
  void* handle = nullptr;  // loader handle; null for a test module
  bool test = false;
  std::map<std::string, void*> procedures;  // test module's table
};

struct Registered {
  Registration info;
  void* address = nullptr;
  int use_count = 1;  // each xlfRegister adds one, each xlfUnregister takes one
};

struct AddinLink {
  std::unique_ptr<Module> module;
  std::vector<Registered> registrations;
  double next_register_id = 0;
  std::vector<CallRecord> calls;
  std::vector<std::string> log;
  int functions_running = 0;  // worksheet functions called and not yet returned
};

// Values the host filled for the add-in, kept until it gives them back.
struct ValueAccounts {
  std::map<const void*, std::string> live_values;  // pointer -> what it is
  std::map<const void*, std::vector<char*>> array_strings;
  std::map<const void*, std::vector<XCHAR*>> array_wide_strings;
  // The cells of each host array as they were handed out.
  std::map<const void*, std::vector<XLOPER>> array_cells;
  int changed_arrays = 0;
  std::set<const void*> freed_values;
  int double_frees = 0;
  int unknown_frees = 0;
  int pending_dll_results = 0;
  std::vector<std::string> problems;
};

void LogLine(const std::string& line);

// Accounting of host-filled values (values.cpp).
char* NewHostString(std::string_view text);     // counted, tracked
XLOPER* NewHostArray(int rows, int columns);    // tracked
XLMREF* NewHostRefTable(int count);             // tracked
void TrackArrayString(const XLOPER* array, char* text);
// Remembers a filled host array's cells, so that xlFree can tell when the
// add-in gave it back with cells changed.
void KeepArrayCells(const XLOPER* array, std::size_t count);
int FreeHostValue(XLOPER* value);               // xlFree
// The 12-series: wide strings (UTF-16 in the records, UTF-8 in the model),
// arrays and reference tables, tracked like the rest. A string put into a
// host array (array given) lives and dies with it.
std::u16string WideText(std::string_view utf8);
std::string NarrowText(const XCHAR* text, std::size_t length);
XCHAR* NewHostWideString(std::string_view utf8);
XLOPER12* NewHostArray12(int rows, int columns);
XLMREF12* NewHostRefTable12(int count);
void FillScalar12(XLOPER12& out, const Value& value, const XLOPER12* array = nullptr);
Value ScalarOf12(const XLOPER12& x);
int FreeHostValue12(XLOPER12* value);  // xlFree through Excel12
// Releases any tracked block by its address (a double or unknown free is
// counted, not performed).
int FreeTracked(const void* pointer);
// Memory about to be written once from end to end, as a big answer read in
// is: on Linux the kernel may back it with 2 MB pages, sparing a page fault
// every 4 KB of it. Only a hint; nothing depends on it being taken.
void AdviseLongFill(const void* data, std::size_t bytes);
// Fills a host-owned XLOPER from a plain value (strings tracked).
void FillScalar(XLOPER& out, const Value& value);
// Reads an XLOPER scalar as a plain value.
Value ScalarOf(const XLOPER& x);

// Text forms of values (values.cpp).
std::string GeneralText(double number);
bool ValidErrorCode(int code);

}  // namespace standin

#endif  // HVT_STANDIN_LINK_H
