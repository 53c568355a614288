#include "host/tool_tables.h"

#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"

namespace hvt {

namespace {

char g_dataMenu[] = " Data";
const char kOverlongEntry[] = "An entry in the dialog is too long to keep!";

}  // namespace

void PrepareToolTables(ToolTables& tool) {
  if (tool.rows != nullptr) PrepareRegistrationRows(tool.rows, tool.rowCount);
  if (tool.menu != nullptr) PrepareMenuBlock(*tool.menu);
  if (tool.dialog != nullptr) PrepareDialogRows(tool.dialog, tool.dialogRows);
  if (tool.dialogArray != nullptr) {
    tool.dialogArray->val.array.lparray = nullptr;
    SetDialogArrayShape(*tool.dialogArray, tool.dialogRows);
  }
}

bool MenuMacroRegistered(const ToolTables& tool) {
  if (tool.menu == nullptr || tool.rows == nullptr) return false;
  const char* macro = tool.menu->text[1][kMenuMacro];
  for (std::size_t r = 0; r < tool.rowCount; ++r) {
    if (CompareCounted(macro, tool.rows[r].text[kFunctionText]) == 0) {
      return true;
    }
  }
  return false;
}

int OpenToolTables(ToolTables& tool) {
  if (tool.rows != nullptr) RegisterRows(tool.rows, tool.rowCount);
  ReadHostVersion();
  if (!MenuMacroRegistered(tool)) return 1;
  return AddMenuBlock(*tool.menu, g_dataMenu);
}

void CloseToolTables(ToolTables& tool) {
  if (tool.rows != nullptr) UnregisterRows(tool.rows, tool.rowCount);
  ReadHostVersion();
  if (tool.rows != nullptr) DeleteRegisteredNames(tool.rows, tool.rowCount);
  if (MenuMacroRegistered(tool)) RemoveMenuBlock(*tool.menu, g_dataMenu);
  if (tool.dialogArray != nullptr) FreeDialogArray(*tool.dialogArray);
  if (tool.remembered != nullptr) ForgetDialogAnswer(*tool.remembered);
}

bool RegisterToolRow(ToolTables& tool, LPXLOPER name, LPXLOPER result) {
  if (tool.rows == nullptr) return false;
  return RegisterRowByName(tool.rows, tool.rowCount, name, result);
}

void ForgetDialogAnswer(XLOPER& remembered) {
  if (BaseType(remembered) == xltypeMulti) FreeGlobal(remembered.val.array.lparray);
  remembered = XLOPER{};
  remembered.xltype = xltypeBool;
  remembered.val.xbool = 0;
}

namespace {

// A text cell of an answer as the add-in keeps it: the 4-series text as it
// is, a 12-series text in UTF-8 (nil when that needs more than 255 bytes).
// Answers the bytes written, length byte and NUL included.
std::size_t KeepText(const char* text, char* out) {
  std::size_t length = CountedLength(text);
  std::memcpy(out, text, length + 1);
  out[length + 1] = '\0';
  return length + 2;
}
std::size_t KeepText(const XCHAR* text, char* out) {
  if (!NarrowCounted(text, out, 257)) return 0;
  return CountedLength(out) + 2;
}

// Whether a 12-series answer holds a text the add-in cannot keep: one whose
// UTF-8 form needs more than the 255 bytes a counted text holds. The host
// answers texts of up to 32,767 characters.
bool HoldsOverlongText(const XLOPER12& answer) {
  if (TypeOf(answer) != xltypeMulti || answer.val.array.lparray == nullptr) return false;
  const std::size_t count = static_cast<std::size_t>(answer.val.array.rows) *
                            static_cast<std::size_t>(answer.val.array.columns);
  char scratch[257];
  for (std::size_t i = 0; i < count; ++i) {
    const XLOPER12& cell = answer.val.array.lparray[i];
    if (TypeOf(cell) == xltypeStr && cell.val.str != nullptr && KeepText(cell.val.str, scratch) == 0)
      return true;
  }
  return false;
}

}  // namespace

template <HostRecord Oper>
TakenAnswer TakeDialogAnswer(Oper& hostAnswer, XLOPER& remembered) {
  if (TypeOf(hostAnswer) != xltypeMulti || hostAnswer.val.array.lparray == nullptr) {
    GiveBack(hostAnswer);
    ForgetDialogAnswer(remembered);
    return TakenAnswer::kNone;
  }
  const Oper* from = hostAnswer.val.array.lparray;
  const std::size_t count = static_cast<std::size_t>(hostAnswer.val.array.rows) *
                            static_cast<std::size_t>(hostAnswer.val.array.columns);
  std::size_t bytes = count * sizeof(XLOPER);
  char scratch[257];
  for (std::size_t i = 0; i < count; ++i) {
    if (TypeOf(from[i]) == xltypeStr && from[i].val.str != nullptr) {
      bytes += KeepText(from[i].val.str, scratch);
    }
  }
  auto* cells = static_cast<XLOPER*>(AllocGlobal(bytes));
  if (cells == nullptr) {
    GiveBack(hostAnswer);
    return TakenAnswer::kNoMemory;
  }
  char* texts = reinterpret_cast<char*>(cells + count);
  CopyArrayCells(from, cells, count, [&texts](const auto* text, std::size_t) -> char* {
    const std::size_t used = KeepText(text, texts);
    if (used == 0) return nullptr;
    char* kept = texts;
    texts += used;
    return kept;
  });
  ForgetDialogAnswer(remembered);
  remembered.xltype = xltypeMulti;
  remembered.val.array.rows = static_cast<WORD>(hostAnswer.val.array.rows);
  remembered.val.array.columns = static_cast<WORD>(hostAnswer.val.array.columns);
  remembered.val.array.lparray = cells;
  GiveBack(hostAnswer);
  return TakenAnswer::kArray;
}

template TakenAnswer TakeDialogAnswer(XLOPER&, XLOPER&);
template TakenAnswer TakeDialogAnswer(XLOPER12&, XLOPER&);

TakenAnswer ShowDialog(XLOPER& shown, XLOPER& remembered, int& code) {
  if (!WideHost()) {
    XLOPER answer{};
    code = Excel4(xlfDialogBox, &answer, 1, &shown);
    if (code != xlretSuccess) return TakenAnswer::kNone;
    return TakeDialogAnswer(answer, remembered);
  }
  // The array again in XLOPER12 cells, each text widened into the same block.
  code = xlretSuccess;
  if (TypeOf(shown) != xltypeMulti || shown.val.array.lparray == nullptr) {
    code = xlretFailed;
    return TakenAnswer::kNone;
  }
  const std::size_t count = std::size_t{shown.val.array.rows} * shown.val.array.columns;
  constexpr std::size_t kTextUnits = 2 * 255 + 2;
  auto* cells = static_cast<XLOPER12*>(
      AllocGlobal(count * (sizeof(XLOPER12) + kTextUnits * sizeof(XCHAR))));
  if (cells == nullptr) return TakenAnswer::kNoMemory;
  auto* texts = reinterpret_cast<XCHAR*>(cells + count);
  CopyArrayCells(shown.val.array.lparray, cells, count,
                 [texts](const char* text, std::size_t i) -> XCHAR* {
                   XCHAR* wide = texts + i * kTextUnits;
                   return WidenCounted(text, wide, kTextUnits) ? wide : nullptr;
                 });
  XLOPER12 array{};
  array.xltype = xltypeMulti;
  array.val.array.lparray = cells;
  array.val.array.rows = shown.val.array.rows;
  array.val.array.columns = shown.val.array.columns;
  XLOPER12 answer{};
  code = Excel12(xlfDialogBox, &answer, 1, &array);
  FreeGlobal(cells);
  if (code != xlretSuccess) return TakenAnswer::kNone;
  if (HoldsOverlongText(answer)) {
    // Refused as a whole rather than kept with that box emptied: the
    // command ends as on Cancel, what was remembered stays, and the person
    // is told why.
    GiveBack(answer);
    ShowMessage(kOverlongEntry, kAlertError);
    return TakenAnswer::kNone;
  }
  return TakeDialogAnswer(answer, remembered);
}

}  // namespace hvt
