// Values exchanged with the host and calls into it: the temporary argument
// pool, the one wrapper most calls go through, the host version, global
// memory handed to the host, and the test for an open host dialog.
#ifndef HVT_HOST_HOST_VALUES_H
#define HVT_HOST_HOST_VALUES_H

#include <cstddef>
#include <cstdint>

#include "sdk/xlcall.h"

namespace hvt {

// A value's type without the bits that say who frees it.
inline WORD BaseType(const XLOPER& value) {
  return static_cast<WORD>(value.xltype & ~(xlbitXLFree | xlbitDLLFree));
}

// ---- Temporary values: a 1,024-byte pool emptied after every CallExcel.
constexpr std::size_t kTempPoolSize = 1024;

void* AllocTemp(std::size_t size);  // nullptr when the pool is full
void ResetTemp();
std::size_t TempFillOffset();

// Each takes one XLOPER from the pool; nullptr when the pool is full.
LPXLOPER TempNumber(double value);
// Writes the length byte of `text` (NUL-terminated from its second byte)
// and points the value at it; the text is not copied.
LPXLOPER TempString(char* text);
LPXLOPER TempBoolean(short value);
LPXLOPER TempInteger(short value);
LPXLOPER TempMissing();

// Passes its arguments to Excel4v, then empties the pool. A null argument
// (a temporary that did not fit) fails the call without reaching the host.
int CallExcel(int function, LPXLOPER result, int count, ...);

// ---- Values the host filled, given back to it with xlFree.

// Gives back a value the host filled and leaves it nil, so a second release
// is harmless.
void ReleaseHostValue(XLOPER& value);

// A value the host fills, given back exactly once: by Release() or when the
// guard goes. A call the host refused leaves nothing to give back.
class HostValue {
 public:
  HostValue() { value_.xltype = xltypeNil; }
  ~HostValue() { Release(); }
  HostValue(const HostValue&) = delete;
  HostValue& operator=(const HostValue&) = delete;

  // Asks the host through CallExcel (its temporaries are freed after the
  // call); the answer is kept when the call succeeded.
  template <typename... Arguments>
  int Call(int function, Arguments... arguments) {
    Release();
    int code = CallExcel(function, &value_, static_cast<int>(sizeof...(arguments)),
                         arguments...);
    filled_ = code == xlretSuccess;
    if (!filled_) value_.xltype = xltypeNil;
    return code;
  }

  void Release() {
    if (filled_) ReleaseHostValue(value_);
    filled_ = false;
  }

  bool filled() const { return filled_; }
  XLOPER& get() { return value_; }
  const XLOPER& get() const { return value_; }
  WORD type() const { return filled_ ? BaseType(value_) : WORD{xltypeNil}; }
  // The answer as text (a counted string), or nullptr.
  const char* text() const {
    return type() == xltypeStr ? value_.val.str : nullptr;
  }
  bool isTrue() const { return type() == xltypeBool && value_.val.xbool != 0; }

 private:
  XLOPER value_{};
  bool filled_ = false;
};

// ---- Host version values.
extern double g_menuBar;      // 10 from Excel 5 on, 1 before, 0 until read
extern short g_versionRead;   // 1 once ReadHostVersion has run
extern std::int32_t g_maxRows;  // 16,384 or 65,536; 0 until read

extern double g_hostVersion;   // the host's version number; 0 until read

void ReadHostVersion();
void ReadMaxRows();
// Version 12 and later: the add-in registers and answers through the
// 12-series interface (Excel12v, XLOPER12).
inline bool WideHost() { return g_hostVersion >= 12; }
// A step written once over the record type, run through the host's interface.
template <void (*Narrow)(), void (*Wide)()>
void ThroughHostInterface() {
  if (WideHost()) {
    Wide();
  } else {
    Narrow();
  }
}

// ---- Global memory: zeroed, movable, locked while in use.
void* AllocGlobal(std::size_t bytes);  // nullptr when memory ran out
// Releases through the handle found from the pointer and clears the pointer,
// so a second release is harmless.
template <typename T>
void FreeGlobal(T*& pointer);
void FreeGlobalBlock(const void* pointer);

// ---- Is one of the host's own dialog windows open? The 12-series asks
// the host's window through Excel12v, which answers the whole handle.
bool HostDialogOpen();
bool HostDialogOpen12();

template <typename T>
void FreeGlobal(T*& pointer) {
  FreeGlobalBlock(pointer);
  pointer = nullptr;
}

}  // namespace hvt

extern "C" HVT_EXPORT void WINAPI xlAutoFree(LPXLOPER value);
extern "C" HVT_EXPORT void WINAPI xlAutoFree12(LPXLOPER12 value);

#endif  // HVT_HOST_HOST_VALUES_H
