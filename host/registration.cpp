#include "host/registration.h"

#include "host/counted_string.h"
#include "host/host_values.h"

namespace hvt {

namespace {

int RegisterRow(LPXLOPER moduleName, RegistrationRow& row, LPXLOPER result) {
  return CallExcel(xlfRegister, result, 8, moduleName,
                   TempString(row.text[kProcedure]),
                   TempString(row.text[kTypeText]),
                   TempString(row.text[kFunctionText]),
                   TempString(row.text[kArgumentText]),
                   TempString(row.text[kMacroType]),
                   TempString(row.text[kCategory]),
                   TempString(row.text[kShortcut]));
}

}  // namespace

void PrepareRegistrationRows(RegistrationRow* rows, std::size_t count) {
  for (std::size_t r = 0; r < count; ++r) {
    for (auto& text : rows[r].text) SetCountedLength(text);
  }
}

void RegisterRows(RegistrationRow* rows, std::size_t count) {
  XLOPER moduleName;
  if (Excel4(xlGetName, &moduleName, 0) != xlretSuccess) return;
  for (std::size_t r = 0; r < count; ++r) {
    XLOPER id;
    if (RegisterRow(&moduleName, rows[r], &id) == xlretSuccess) {
      ReleaseHostValue(id);
    }
  }
  ReleaseHostValue(moduleName);
}

void UnregisterRows(RegistrationRow* rows, std::size_t count) {
  XLOPER moduleName;
  if (Excel4(xlGetName, &moduleName, 0) != xlretSuccess) return;
  for (std::size_t r = 0; r < count; ++r) {
    XLOPER id;
    if (CallExcel(xlfRegisterId, &id, 2, &moduleName,
                  TempString(rows[r].text[kProcedure])) != xlretSuccess) {
      continue;
    }
    if (id.xltype != xltypeErr) {
      XLOPER ignored;
      if (Excel4(xlfUnregister, &ignored, 1, &id) == xlretSuccess) {
        ReleaseHostValue(ignored);
      }
    }
    ReleaseHostValue(id);
  }
  ReleaseHostValue(moduleName);
}

void DeleteRegisteredNames(RegistrationRow* rows, std::size_t count) {
  for (std::size_t r = 0; r < count; ++r) {
    XLOPER ignored;
    if (CallExcel(xlfSetName, &ignored, 1,
                  TempString(rows[r].text[kFunctionText])) == xlretSuccess) {
      ReleaseHostValue(ignored);
    }
  }
}

bool RegisterRowByName(RegistrationRow* rows, std::size_t count,
                       LPXLOPER name, LPXLOPER result) {
  if (name == nullptr || BaseType(*name) != xltypeStr ||
      name->val.str == nullptr) {
    return false;
  }
  for (std::size_t r = 0; r < count; ++r) {
    if (CompareCounted(name->val.str, rows[r].text[kProcedure]) != 0) continue;
    XLOPER moduleName;
    if (Excel4(xlGetName, &moduleName, 0) != xlretSuccess) return false;
    RegisterRow(&moduleName, rows[r], result);
    ReleaseHostValue(moduleName);
    return true;
  }
  return false;
}

}  // namespace hvt
