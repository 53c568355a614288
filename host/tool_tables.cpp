#include "host/tool_tables.h"

#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"

namespace hvt {

namespace {

char g_dataMenu[] = " Data";

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

TakenAnswer TakeDialogAnswer(XLOPER& hostAnswer, XLOPER& remembered) {
  if (BaseType(hostAnswer) != xltypeMulti || hostAnswer.val.array.lparray == nullptr) {
    ReleaseHostValue(hostAnswer);
    ForgetDialogAnswer(remembered);
    return TakenAnswer::kNone;
  }
  const XLOPER* from = hostAnswer.val.array.lparray;
  const std::size_t count =
      std::size_t{hostAnswer.val.array.rows} * hostAnswer.val.array.columns;
  std::size_t bytes = count * sizeof(XLOPER);
  for (std::size_t i = 0; i < count; ++i) {
    if (BaseType(from[i]) == xltypeStr && from[i].val.str != nullptr) {
      bytes += CountedLength(from[i].val.str) + 2;  // length byte and a NUL
    }
  }
  auto* cells = static_cast<XLOPER*>(AllocGlobal(bytes));
  if (cells == nullptr) {
    ReleaseHostValue(hostAnswer);
    return TakenAnswer::kNoMemory;
  }
  char* texts = reinterpret_cast<char*>(cells + count);
  for (std::size_t i = 0; i < count; ++i) {
    XLOPER& cell = cells[i];
    switch (BaseType(from[i])) {
      case xltypeNum:
      case xltypeBool:
      case xltypeErr:
      case xltypeInt:
        cell.xltype = BaseType(from[i]);
        cell.val = from[i].val;
        break;
      case xltypeStr:
        if (from[i].val.str != nullptr) {
          std::size_t length = CountedLength(from[i].val.str);
          std::memcpy(texts, from[i].val.str, length + 1);
          texts[length + 1] = '\0';
          cell.xltype = xltypeStr;
          cell.val.str = texts;
          texts += length + 2;
          break;
        }
        [[fallthrough]];
      default:  // nothing an answer cell holds beyond these
        cell.xltype = xltypeNil;
        break;
    }
  }
  ForgetDialogAnswer(remembered);
  remembered.xltype = xltypeMulti;
  remembered.val.array = hostAnswer.val.array;
  remembered.val.array.lparray = cells;
  ReleaseHostValue(hostAnswer);
  return TakenAnswer::kArray;
}

}  // namespace hvt
