#include "command/column.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"
#include "host/tool_tables.h"

namespace hvt {

// ---- Arguments ------------------------------------------------------------------

template <HostRecord Oper>
bool SameColumn(const RefRecordOf<Oper>& data, const RefRecordOf<Oper>& output) {
  return data.value.val.mref.idSheet == output.value.val.mref.idSheet &&
         data.table.reftbl[0].colFirst == output.table.reftbl[0].colFirst;
}

template <HostRecord Oper>
bool FirstCellsAreNumbers(const RefRecordOf<Oper>& data) {
  using Ref = typename Interface<Oper>::Ref;
  const Ref& area = data.table.reftbl[0];
  for (long row = area.rwFirst; row < area.rwFirst + 5L; ++row) {
    typename Interface<Oper>::Table table{};
    Oper cell = AreaRef(table, data.value.val.mref.idSheet, CellArea<Ref>(row, area.colFirst));
    Oper answer{};
    if (HostCall(xlfIsnumber, &answer, &cell) != xlretSuccess) return false;
    bool number = IsTrue(answer);
    GiveBack(answer);
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
  if (WideHost()) {
    XLMREF12 table{};
    XLOPER12 cell = AreaRef(table, sheet, CellArea<XLREF12>(row, column));
    Excel12(xlcFormulaGoto, nullptr, 1, &cell);
    return;
  }
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
  // The tools on this loop resolve their references through the
  // interface the host runs: on 12+ hosts the whole selection is offered.
  int prefilled = PrefillReferenceField(array, dataCell, kOutputItem, remembered,
                                        /*twelveSeries=*/true);
  for (;;) {
    XLOPER* shown = BaseType(remembered) == xltypeMulti ? &remembered : &array;
    int code = xlretSuccess;
    TakenAnswer taken = ShowDialog(*shown, remembered, code);
    if (prefilled == 1) {
      RestoreReferenceField(array, dataCell, table[0].text[kItemValue],
                            table[kDataItem].text[kItemValue]);
    }
    if (code != xlretSuccess) return kStepEnd;
    if (taken == TakenAnswer::kNoMemory) {
      ShowInsufficientMemory();
      return kStepEnd;
    }
    if (taken != TakenAnswer::kArray || remembered.val.array.rows != rows ||
        remembered.val.array.columns != kDialogColumns) {
      // FALSE: cancelled. The next showing starts from the table again, not
      // from the answer the person has just cancelled.
      ForgetDialogAnswer(remembered);
      return kStepEnd;
    }
    CheckPass pass = check();
    if (pass == kAccepted) return kStepGoOn;
    if (pass == kGiveUp) return kStepEnd;
  }
}

template <HostRecord Oper>
CheckPass ResolveColumnAnswer(XLOPER& answer, RefRecordOf<Oper>& data,
                              RefRecordOf<Oper>& output, double*& focus) {
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

template <HostRecord Oper>
bool TakeReference(Oper* argument, RefRecordOf<Oper>& record) {
  if (record.value.val.mref.lpmref == nullptr) PrepareRef(record);
  if (argument == nullptr) return false;
  DWORD type = TypeOf(*argument);
  if (type != xltypeRef && type != xltypeSRef) return false;
  Oper reference{};
  Oper wanted = IntegerValue<Oper>(xltypeRef);
  if (HostCall(xlCoerce, &reference, argument, &wanted) != xlretSuccess) return false;
  bool taken = false;
  if (TypeOf(reference) == xltypeRef && reference.val.mref.lpmref != nullptr &&
      reference.val.mref.lpmref->count >= 1) {
    CopyRef(reference, record.value);
    taken = true;
  }
  GiveBack(reference);
  return taken;
}

template <HostRecord Oper>
bool SheetProtected(const Oper& reference) {
  Oper name{};
  Oper nameOfSheet = NumberValue<Oper>(32);
  if (HostCall(xlfGetCell, &name, &nameOfSheet, const_cast<Oper*>(&reference)) !=
      xlretSuccess) {
    return false;
  }
  bool locked = false;
  if (TypeOf(name) == xltypeStr && name.val.str != nullptr) {
    Oper flag{};
    Oper protection = NumberValue<Oper>(7);
    if (HostCall(xlfGetDocument, &flag, &protection, &name) == xlretSuccess) {
      locked = IsTrue(flag);
      GiveBack(flag);
    }
  }
  GiveBack(name);
  return locked;
}

template <HostRecord Oper>
bool OutputWritable(const RefRecordOf<Oper>& output) {
  // Writing into a protected sheet would fail cell by cell; a command's
  // dialog does not look, so this is asked on every run.
  if (!SheetProtected(output.value)) return true;
  ShowAlert(text::kOutputProtected, kAlertError);
  return false;
}

StepResult RunCheckedDialog(DialogRow* table, std::size_t rows, XLOPER& array,
                            XLOPER& remembered, CheckPass (*check)(), bool& checked) {
  checked = false;
  checked = RunDialog(table, rows, array, remembered, check) == kStepGoOn;
  return checked ? kStepGoOn : kStepEnd;
}

template bool TakeReference(XLOPER*, RefRecord&);
template bool TakeReference(XLOPER12*, RefRecord12&);
template bool SameColumn(const RefRecord&, const RefRecord&);
template bool SameColumn(const RefRecord12&, const RefRecord12&);
template bool FirstCellsAreNumbers(const RefRecord&);
template bool FirstCellsAreNumbers(const RefRecord12&);
template bool SheetProtected(const XLOPER&);
template bool SheetProtected(const XLOPER12&);
template bool OutputWritable(const RefRecord&);
template bool OutputWritable(const RefRecord12&);
template CheckPass ResolveColumnAnswer(XLOPER&, RefRecord&, RefRecord&, double*&);
template CheckPass ResolveColumnAnswer(XLOPER&, RefRecord12&, RefRecord12&, double*&);

}  // namespace hvt
