#include "host/registration.h"

#include "host/counted_string.h"
#include "host/host_values.h"

namespace hvt {

namespace {

// A counted byte text as a counted wide text (the texts are ASCII).
struct WideText {
  XCHAR text[kRegistrationTextSize + 1];
  XLOPER12 value{};
  explicit WideText(const char* counted) {
    std::size_t length = CountedLength(counted);
    text[0] = static_cast<XCHAR>(length);
    for (std::size_t i = 1; i <= length; ++i)
      text[i] = static_cast<unsigned char>(counted[i]);
    value.xltype = xltypeStr;
    value.val.str = text;
  }
};

bool HasWideProcedure(const RegistrationRow& row) {
  return CountedLength(row.wide[kWideProcedure]) > 0;
}

const char* ProcedureFor(const RegistrationRow& row, bool wide) {
  return wide && HasWideProcedure(row) ? row.wide[kWideProcedure]
                                       : row.text[kProcedure];
}

int RegisterRow12(LPXLOPER12 moduleName, RegistrationRow& row, LPXLOPER12 result) {
  const bool own = HasWideProcedure(row);
  WideText texts[7] = {
      WideText(own ? row.wide[kWideProcedure] : row.text[kProcedure]),
      WideText(own ? row.wide[kWideTypeText] : row.text[kTypeText]),
      WideText(row.text[kFunctionText]), WideText(row.text[kArgumentText]),
      WideText(row.text[kMacroType]),    WideText(row.text[kCategory]),
      WideText(row.text[kShortcut])};
  return Excel12(xlfRegister, result, 8, moduleName, &texts[0].value, &texts[1].value,
                 &texts[2].value, &texts[3].value, &texts[4].value, &texts[5].value,
                 &texts[6].value);
}

// The whole registration through the 12-series: the id comes back as a
// number or an error, which an XLOPER holds as well.
void RegisterRowsWide(RegistrationRow* rows, std::size_t count, LPXLOPER oneResult,
                      std::size_t only) {
  XLOPER12 moduleName{};
  if (Excel12(xlGetName, &moduleName, 0) != xlretSuccess) return;
  for (std::size_t r = 0; r < count; ++r) {
    if (oneResult != nullptr && r != only) continue;
    XLOPER12 id{};
    if (RegisterRow12(&moduleName, rows[r], &id) != xlretSuccess) continue;
    if (oneResult != nullptr) {
      if ((id.xltype & ~(xlbitXLFree | xlbitDLLFree)) == xltypeNum) {
        oneResult->xltype = xltypeNum;
        oneResult->val.num = id.val.num;
      } else {
        oneResult->xltype = xltypeErr;
        oneResult->val.err = xlerrValue;
      }
    }
    Excel12(xlFree, nullptr, 1, &id);
  }
  Excel12(xlFree, nullptr, 1, &moduleName);
}

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
    for (auto& text : rows[r].wide) {
      if (text[0] != '\0') SetCountedLength(text);
    }
  }
}

void RegisterRows(RegistrationRow* rows, std::size_t count) {
  if (WideHost()) {
    RegisterRowsWide(rows, count, nullptr, 0);
    return;
  }
  XLOPER moduleName{};
  if (Excel4(xlGetName, &moduleName, 0) != xlretSuccess) return;
  for (std::size_t r = 0; r < count; ++r) {
    XLOPER id{};
    if (RegisterRow(&moduleName, rows[r], &id) == xlretSuccess) {
      ReleaseHostValue(id);
    }
  }
  ReleaseHostValue(moduleName);
}

void UnregisterRows(RegistrationRow* rows, std::size_t count) {
  if (WideHost()) {
    XLOPER12 moduleName{};
    if (Excel12(xlGetName, &moduleName, 0) != xlretSuccess) return;
    for (std::size_t r = 0; r < count; ++r) {
      WideText procedure(ProcedureFor(rows[r], true));
      XLOPER12 id{};
      if (Excel12(xlfRegisterId, &id, 2, &moduleName, &procedure.value) != xlretSuccess) {
        continue;
      }
      if (id.xltype != xltypeErr) {
        XLOPER12 ignored{};
        if (Excel12(xlfUnregister, &ignored, 1, &id) == xlretSuccess) {
          Excel12(xlFree, nullptr, 1, &ignored);
        }
      }
      Excel12(xlFree, nullptr, 1, &id);
    }
    Excel12(xlFree, nullptr, 1, &moduleName);
    return;
  }
  XLOPER moduleName{};
  if (Excel4(xlGetName, &moduleName, 0) != xlretSuccess) return;
  for (std::size_t r = 0; r < count; ++r) {
    XLOPER id{};
    if (CallExcel(xlfRegisterId, &id, 2, &moduleName,
                  TempString(rows[r].text[kProcedure])) != xlretSuccess) {
      continue;
    }
    if (id.xltype != xltypeErr) {
      XLOPER ignored{};
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
    XLOPER ignored{};
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
    if (CompareCounted(name->val.str, rows[r].text[kProcedure]) != 0 &&
        (!WideHost() || !HasWideProcedure(rows[r]) ||
         CompareCounted(name->val.str, rows[r].wide[kWideProcedure]) != 0)) {
      continue;
    }
    if (WideHost()) {
      RegisterRowsWide(rows, count, result, r);
      return true;
    }
    XLOPER moduleName{};
    if (Excel4(xlGetName, &moduleName, 0) != xlretSuccess) return false;
    RegisterRow(&moduleName, rows[r], result);
    ReleaseHostValue(moduleName);
    return true;
  }
  return false;
}

}  // namespace hvt
