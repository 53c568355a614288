// Calls whose texts the add-in keeps as counted UTF-8 (sheet and book names
// among them), sent through the host's own interface: on a host of version
// 12 or later through Excel12v, each text widened to UTF-16 and a text
// answer narrowed back, so that a name outside the byte code page survives;
// on older hosts through Excel4v with the bytes as they are.
#ifndef HVT_HOST_TEXT_CALLS_H
#define HVT_HOST_TEXT_CALLS_H

#include <cstddef>
#include <initializer_list>

#include "sdk/xlcall.h"

namespace hvt {

// One argument of such a call.
struct TextCallArgument {
  enum class Kind { kNumber, kBoolean, kInteger, kMissing, kText, kReference };
  Kind kind = Kind::kMissing;
  double number = 0;
  char* text = nullptr;               // counted, a NUL after the text
  const XLOPER* narrow = nullptr;     // a reference for the 4-series
  const XLOPER12* wide = nullptr;     // and for the 12-series
};
TextCallArgument NumberArgument(double number);
TextCallArgument BooleanArgument(bool on);
TextCallArgument IntegerArgument(int number);
TextCallArgument MissingArgument();
// Writes the text's length byte from its NUL, as TempString does.
TextCallArgument TextArgumentOf(char* counted);
// A reference the call takes in the record of the host's interface; one
// given only in the other record fails the call without reaching the host.
TextCallArgument ReferenceArgument(const XLOPER& narrow, const XLOPER12& wide);
TextCallArgument ReferenceArgument(const XLOPER& narrow);
TextCallArgument ReferenceArgument(const XLOPER12& wide);

// At most this many arguments.
constexpr std::size_t kTextCallArguments = 5;

// A command or a call whose answer is not wanted.
int TextCall(int function, std::initializer_list<TextCallArgument> arguments);

// The answer as counted UTF-8 with a NUL in `out`. False when the call
// failed, the answer is no text, or it does not fit `capacity` bytes (a
// 4-series text is then cut to fit, as the old callers did).
bool TextCallText(int function, char* out, std::size_t capacity,
                  std::initializer_list<TextCallArgument> arguments);

// Whether the answer (a text or an array of them) holds `name`, compared
// ignoring case as CompareCounted does. A caller's sheet whose name merely
// begins with it does not count.
bool TextCallListHolds(int function, const char* name,
                       std::initializer_list<TextCallArgument> arguments);

// The answer when it is a number, boolean, error, integer or a sheet (a
// reference's sheet id, with no areas); any other answer reads as nil.
// Nothing to give back. False when the call failed.
bool TextCallValue(int function, XLOPER& value,
                   std::initializer_list<TextCallArgument> arguments);

// The sheet id of a sheet by name, or of the active sheet without one; 0
// when the host knows none.
IDSHEET SheetIdByName(char* name);

}  // namespace hvt

#endif  // HVT_HOST_TEXT_CALLS_H
