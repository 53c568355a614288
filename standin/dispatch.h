// The dispatcher's shared pieces: the handler shape, the tables of function
// numbers and the argument helpers every handler uses. Internal.
#ifndef HVT_STANDIN_DISPATCH_H
#define HVT_STANDIN_DISPATCH_H

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "standin/addin.h"
#include "standin/host.h"

namespace standin {

using Args = std::vector<XLOPER*>;
using Handler = int (*)(XLOPER& result, const Args& args);

struct Entry {
  int number;
  const char* name;
  int min_args, max_args;
  Handler handler;
  bool intl = false;  // may be called with xlIntl
};

// Tables of the other dispatcher files.
const Entry* MacroEntries(std::size_t& count);    // information and text functions
const Entry* CommandEntries(std::size_t& count);  // commands
const Entry* MenuEntries(std::size_t& count);     // menu bars
const Entry* PersonEntries(std::size_t& count);   // the scripted person

// Whether the call being answered carries xlIntl.
bool IntlCall();

// A call through the 12-series entry is answered by the same handlers: each
// argument reaches them as an XLOPER, with the full operand (a reference on
// the big sheet, a long or wide text, a big array) kept here by the
// XLOPER's address, and a handler's answer that an XLOPER cannot hold kept
// as the operand itself (dispatch12.cpp).
struct WideCall {
  std::map<const XLOPER*, Operand> operands;
  std::optional<Operand> answer;
  // An answer a handler filled as the host-owned XLOPER12 itself.
  std::optional<XLOPER12> filled;
};
// The 12-series call being answered, or nullptr (also inside 4-series
// calls and add-in procedures it leads to).
WideCall* CurrentWideCall();
class WideCallScope {
 public:
  explicit WideCallScope(WideCall* call);
  ~WideCallScope();
  WideCallScope(const WideCallScope&) = delete;
  WideCallScope& operator=(const WideCallScope&) = delete;

 private:
  WideCall* saved_;
};
// The full operand behind an argument of a 12-series call, or nullptr.
const Operand* WideOperand(const XLOPER* x);
// Rows an array answer may have: 65,535 for an XLOPER, the whole big sheet
// through the 12-series.
int ArrayRowLimit();
// Inside a 12-series call, answers one area of a sheet as an array filled
// straight from the stored cells, with no array of values in between;
// false, with nothing answered, outside one or when the area is too big to
// read. The caller has answered xlretUncalced where the area needs it.
bool AnswerWideArray(XLOPER& result, const Sheet& sheet, const Area& area);
// Answers a call by function number (dispatch.cpp).
int Dispatch(int xlfn, LPXLOPER result, int count, LPXLOPER opers[]);

int BaseType(const XLOPER& x);
bool Given(const Args& args, std::size_t k);  // present and not missing
SheetId CallingSheet();
// An argument as one value (a reference reads its first cell).
Value ScalarArg(const Args& args, std::size_t k);
std::string TextArg(const Args& args, std::size_t k);
std::optional<double> NumberArg(const Args& args, std::size_t k);
// TRUE/FALSE argument; `otherwise` when missing or not a boolean.
bool BoolArg(const Args& args, std::size_t k, bool otherwise);
// A reference argument (Ref or SRef); nothing for other types.
std::optional<Ref> RefArg(const Args& args, std::size_t k);

void SetValue(XLOPER& result, const Value& v);
void SetArray(XLOPER& result, const Array& a);
// The same, moving the cells into a 12-series call's answer.
void SetArray(XLOPER& result, Array&& a);
// A host-owned xltypeRef answer.
void SetRef(XLOPER& result, const Ref& ref);
// Refuses a call: logs why, answers xlretFailed.
int Refuse(const std::string& function, const std::string& why);

// Reference texts of the model (macro.cpp).
std::string RefTextOf(const Ref& ref, bool a1);
// A reference typed as text; nothing (or an error) when it is none.
std::optional<Ref> RefFromText(const std::string& text, bool a1, std::string* why = nullptr);
// Formula text converted between A1 and R1C1 relative to a cell.
// ref_type: 0 unchanged, 1 absolute, 2 absolute row, 3 absolute column, 4 relative.
std::optional<std::string> ConvertFormula(const std::string& formula, bool from_a1, bool to_a1,
                                          int ref_type, int base_row, int base_col);

// The formula text moved by rows and columns as a copy moves it: relative
// parts shift, absolute ones stay, references off the sheet become #REF!.
std::optional<std::string> ShiftFormula(const std::string& formula, int rows, int columns);

// The scripted person (person.cpp).
int ShowDialogBox(XLOPER& result, const XLOPER& definition);
bool AskAlert(const std::string& text, int type);
void ShowHostAlert(const std::string& text);  // Excel's own refusal messages
// The macro a menu item runs (menus.cpp); throws when there is none.
std::string MenuMacro(const std::string& menu, const std::string& item);

}  // namespace standin

#endif  // HVT_STANDIN_DISPATCH_H
