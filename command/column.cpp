#include "command/column.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/tool_tables.h"

namespace hvt {

namespace {


bool IsText(const XLOPER& value) {
  return BaseType(value) == xltypeStr && value.val.str != nullptr;
}

}  // namespace

// ---- Arguments ------------------------------------------------------------------

bool SameColumn(const RefRecord& data, const RefRecord& output) {
  return data.value.val.mref.idSheet == output.value.val.mref.idSheet &&
         data.table.reftbl[0].colFirst == output.table.reftbl[0].colFirst;
}

bool FirstCellsAreNumbers(const RefRecord& data) {
  const XLREF& area = data.table.reftbl[0];
  for (long row = area.rwFirst; row < area.rwFirst + 5L; ++row) {
    XLMREF table{};
    XLOPER cell = AreaRef(table, data.value.val.mref.idSheet, CellArea(row, area.colFirst));
    XLOPER answer{};
    if (Excel4(xlfIsnumber, &answer, 1, &cell) != xlretSuccess) return false;
    bool number = BaseType(answer) == xltypeBool && answer.val.xbool != 0;
    ReleaseHostValue(answer);
    if (!number) return false;
  }
  return true;
}

bool AnswerNumber(XLOPER& cell, double& number) {
  XLOPER value{};
  if (CallExcel(xlCoerce, &value, 2, &cell, TempInteger(xltypeNum)) != xlretSuccess) {
    return false;
  }
  bool ok = BaseType(value) == xltypeNum;
  if (ok) number = value.val.num;
  ReleaseHostValue(value);
  return ok;
}

void SelectCell(IDSHEET sheet, long row, long column) {
  XLMREF table{};
  XLOPER cell = AreaRef(table, sheet, CellArea(row, column));
  Excel4(xlcFormulaGoto, nullptr, 1, &cell);
}

StepResult RunDialog(DialogRow* table, std::size_t rows, XLOPER& array,
                     XLOPER& remembered, CheckPass (*check)()) {
  constexpr short kDataItem = 2;
  constexpr short kOutputItem = 4;
  if (!BuildDialogArray(table, rows, array)) {
    ShowInsufficientMemory();
    return kStepEnd;
  }
  const std::size_t dataCell = DialogCell(kDataItem, kItemValue);
  int prefilled = PrefillReferenceField(array, dataCell, kOutputItem, remembered);
  for (;;) {
    XLOPER* shown = BaseType(remembered) == xltypeMulti ? &remembered : &array;
    XLOPER answer{};
    int code = Excel4(xlfDialogBox, &answer, 1, shown);
    if (prefilled == 1) {
      RestoreReferenceField(array, dataCell, table[0].text[kItemValue],
                            table[kDataItem].text[kItemValue]);
    }
    if (code != xlretSuccess) return kStepEnd;
    if (BaseType(answer) != xltypeMulti || answer.val.array.lparray == nullptr ||
        answer.val.array.rows != rows || answer.val.array.columns != kDialogColumns) {
      ReleaseHostValue(answer);  // FALSE: cancelled
      // The next showing starts from the table again, not from the answer
      // the person has just cancelled.
      ForgetDialogAnswer(remembered);
      return kStepEnd;
    }
    if (TakeDialogAnswer(answer, remembered) != TakenAnswer::kArray) {
      ShowInsufficientMemory();
      return kStepEnd;
    }
    CheckPass pass = check();
    if (pass == kAccepted) return kStepGoOn;
    if (pass == kGiveUp) return kStepEnd;
  }
}

CheckPass ResolveColumnAnswer(XLOPER& answer, RefRecord& data, RefRecord& output,
                              double*& focus) {
  constexpr short kDataItem = 2;
  constexpr short kOutputItem = 4;
  XLOPER* cells = answer.val.array.lparray;
  XLOPER& focusCell = cells[DialogCell(0, kItemValue)];
  focus = BaseType(focusCell) == xltypeNum ? &focusCell.val.num : nullptr;
  int resolved = ResolveReferences(cells[DialogCell(kDataItem, kItemValue)],
                                   cells[DialogCell(kOutputItem, kItemValue)],
                                   kDataItem, kOutputItem, focus, data.value,
                                   output.value);
  if (resolved == kResolveEnd) return kGiveUp;
  return resolved == kResolved ? kAccepted : kShowAgain;
}

bool TakeReference(LPXLOPER argument, RefRecord& record) {
  if (record.value.val.mref.lpmref == nullptr) PrepareRef(record);
  if (argument == nullptr) return false;
  WORD type = BaseType(*argument);
  if (type != xltypeRef && type != xltypeSRef) return false;
  XLOPER reference{};
  if (CallExcel(xlCoerce, &reference, 2, argument, TempInteger(xltypeRef)) !=
      xlretSuccess) {
    return false;
  }
  bool taken = false;
  if (BaseType(reference) == xltypeRef && reference.val.mref.lpmref != nullptr &&
      reference.val.mref.lpmref->count >= 1) {
    CopyRef(reference, record.value);
    taken = true;
  }
  ReleaseHostValue(reference);
  return taken;
}

bool SheetProtected(const XLOPER& reference) {
  XLOPER name{};
  if (CallExcel(xlfGetCell, &name, 2, TempNumber(32),
                const_cast<LPXLOPER>(&reference)) != xlretSuccess) {
    return false;
  }
  bool locked = false;
  if (IsText(name)) {
    XLOPER flag{};
    if (CallExcel(xlfGetDocument, &flag, 2, TempNumber(7), &name) == xlretSuccess) {
      locked = BaseType(flag) == xltypeBool && flag.val.xbool != 0;
      ReleaseHostValue(flag);
    }
  }
  ReleaseHostValue(name);
  return locked;
}

}  // namespace hvt
