#include "host/tool_tables.h"

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
  WORD type = remembered.xltype & ~(xlbitXLFree | xlbitDLLFree);
  if (type != 0 && type != xltypeBool) ReleaseHostValue(remembered);
  remembered.xltype = xltypeBool;
  remembered.val.xbool = 0;
}

}  // namespace hvt
