// UpdateUCX: one component of one later data row from the coefficients a
// decorrelation run left on its coefficient sheet, and the formulas the
// command writes so that the row can be copied down.
#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/text_calls.h"
#include "host/texts.h"
#include "host/worksheet_args.h"
#include "tools/decor/decor.h"

namespace hvt::decor {

namespace {

// Room for a counted text of 255 bytes and its NUL.
constexpr std::size_t kTextRoom = 257;

// "=" + a reference text (counted UTF-8), converted by the host relative
// to `anchor`, into `converted`. False when the host gives no formula.
template <HostRecord Oper>
bool ConvertReference(const char* text, double refType, const Oper& anchor,
                      char* converted) {
  // The sheet part quoted, so that names such as Data.COF read back.
  char quoted[kNameSize + 8];
  if (!QuoteSheetText(text, quoted, sizeof quoted)) return false;
  char formula[kNameSize + 8];
  std::size_t length = CountedLength(quoted);
  if (length + 1 > 255) return false;
  formula[1] = '=';
  std::memcpy(formula + 2, quoted + 1, length);
  formula[2 + length] = '\0';
  return TextCallText(xlfFormulaConvert, converted, kTextRoom,
                      {TextArgumentOf(formula), BooleanArgument(false),
                       BooleanArgument(false), NumberArgument(refType),
                       ReferenceArgument(anchor)}) &&
         CountedLength(converted) >= 2 && converted[1] == '=';
}

template <HostRecord Oper>
void WriteUpdateFormulasThrough() {
  DecorRecords<Oper> records = Records<Oper>();
  const auto* input = FirstArea(records.input.value);
  const auto* output = FirstArea(records.output.value);
  if (input == nullptr || output == nullptr || FirstArea(records.coefArea.value) == nullptr) {
    return;
  }
  using Ref = typename Interface<Oper>::Ref;

  RefRecordOf<Oper> column, anchor, row, target;
  PrepareRef(column);
  PrepareRef(anchor);
  PrepareRef(row);
  PrepareRef(target);
  CopyRef(records.coefArea.value, column.value);
  column.table.reftbl[0].colLast = column.table.reftbl[0].colFirst;
  CopyRef(records.output.value, anchor.value);
  Ref& cell = anchor.table.reftbl[0];
  cell.rwLast = static_cast<decltype(cell.rwLast)>(cell.rwFirst + AreaRowCount(*input) - 1);
  cell.rwFirst = cell.rwLast;
  cell.colLast = cell.colFirst;
  CopyRef(records.input.value, row.value);
  row.table.reftbl[0].rwFirst = row.table.reftbl[0].rwLast;

  char t1[kTextRoom], t3[kTextRoom], c1[kTextRoom], c3[kTextRoom];
  bool okT1 = TextCallText(xlfReftext, t1, kTextRoom, {ReferenceArgument(column.value)});
  bool okT3 = TextCallText(xlfReftext, t3, kTextRoom, {ReferenceArgument(row.value)});
  // The coefficient column moves with the output column, the data row with
  // the output row.
  bool haveC1 = okT1 && ConvertReference(t1, 2, anchor.value, c1);
  bool haveC3 = okT3 && ConvertReference(t3, 3, anchor.value, c3);
  if (!haveC1 || !haveC3) return;

  // The converted texts without their "=".
  const std::size_t n1 = CountedLength(c1) - 1;
  const std::size_t n3 = CountedLength(c3) - 1;
  static const char kOpen[] = "=UpdateUCX(";
  const std::size_t total = std::strlen(kOpen) + n1 + 1 + n3 + 1;
  if (total > 255) {
    ShowMessage(text::kDecorFormulaTooLong + 1, kAlertError);
    return;
  }
  char formula[kNameSize + 2];
  char* at = formula + 1;
  std::memcpy(at, kOpen, std::strlen(kOpen));
  at += std::strlen(kOpen);
  std::memcpy(at, c1 + 2, n1);
  at += n1;
  *at++ = ',';
  std::memcpy(at, c3 + 2, n3);
  at += n3;
  *at++ = ')';
  *at = '\0';
  // The text is R1C1: entered as international text it reads the same
  // whatever notation the workspace uses.
  TextCall(int{xlcFormula} | int{xlIntl},
           {TextArgumentOf(formula), ReferenceArgument(anchor.value)});
  // Across the whole row: each column's copy moves its coefficient column
  // along with it.
  CopyRef(anchor.value, target.value);
  target.table.reftbl[0].colLast = output->colLast;
  HostCall(xlcCopy, static_cast<Oper*>(nullptr), &anchor.value, &target.value);
}

}  // namespace

void WriteUpdateFormulas() {
  ThroughHostInterface<WriteUpdateFormulasThrough<XLOPER>,
                       WriteUpdateFormulasThrough<XLOPER12>>();
}

}  // namespace hvt::decor

using namespace hvt;
using namespace hvt::decor;

namespace {

// The pieces of the record each interface differs in.
bool ArgumentDialogOpen(XLOPER*) { return HostDialogOpen(); }
bool ArgumentDialogOpen(XLOPER12*) { return HostDialogOpen12(); }
int SumCall(XLOPER* argument, XLOPER& sum) { return Excel4(xlfSum, &sum, 1, argument); }
int SumCall(XLOPER12* argument, XLOPER12& sum) { return Excel12(xlfSum, &sum, 1, argument); }
void ReleaseValue(XLOPER& value) { ReleaseHostValue(value); }
void ReleaseValue(XLOPER12& value) { Excel12(xlFree, nullptr, 1, &value); }

template <typename Oper>
struct UcxRecords;
template <>
struct UcxRecords<XLOPER> {
  using Ref = XLREF;
  using Table = XLMREF;
  using Sheet = IDSHEET;
};
template <>
struct UcxRecords<XLOPER12> {
  using Ref = XLREF12;
  using Table = XLMREF12;
  using Sheet = IDSHEET;
};

// The first area of a reference argument of either kind, with its sheet
// when it carries one.
template <typename Oper>
bool AreaOfArgument(const Oper& argument, typename UcxRecords<Oper>::Ref& area,
                    typename UcxRecords<Oper>::Sheet& sheet, bool& withSheet) {
  auto type = argument.xltype & ~(xlbitXLFree | xlbitDLLFree);
  if (type == xltypeSRef) {
    area = argument.val.sref.ref;
    withSheet = false;
    return true;
  }
  if (type == xltypeRef && argument.val.mref.lpmref != nullptr &&
      argument.val.mref.lpmref->count == 1) {
    area = argument.val.mref.lpmref->reftbl[0];
    sheet = argument.val.mref.idSheet;
    withSheet = true;
    return true;
  }
  return false;
}

template <typename Oper>
Oper* UpdateComponent(Oper* coeffRef, Oper* dataRef) {
  using Ref = typename UcxRecords<Oper>::Ref;
  using Sheet = typename UcxRecords<Oper>::Sheet;
  static Oper answerRecord;  // handed to the host, reused by every call
  Oper& g_result = answerRecord;
  if (ArgumentDialogOpen(coeffRef)) return nullptr;
  for (Oper* argument : {coeffRef, dataRef}) {
    if (argument == nullptr) return ErrorResult(g_result, xlerrValue);
    switch (argument->xltype & ~(xlbitXLFree | xlbitDLLFree)) {
      case xltypeMissing:
        return ErrorResult(g_result, xlerrNA);
      case xltypeErr:
        return ErrorResult(g_result, static_cast<WORD>(argument->val.err));
      case xltypeRef:
      case xltypeSRef: {
        // Summed only to learn whether the cells are calculated yet.
        Oper sum;
        int code = SumCall(argument, sum);
        if (code == xlretSuccess) ReleaseValue(sum);
        if (code & xlretUncalced) return nullptr;
        break;
      }
      default:
        return ErrorResult(g_result, xlerrValue);
    }
  }

  CoercedArrayOf<Oper> data(dataRef);
  CoercedArrayOf<Oper> coefficients(coeffRef);
  if (coefficients.error() != 0) return ErrorResult(g_result, coefficients.error());
  if (data.error() != 0) return ErrorResult(g_result, data.error());

  Ref coefArea, dataArea;
  Sheet coefSheet = 0, dataSheet = 0;
  bool coefWithSheet = false, dataWithSheet = false;
  // The means and sigmas are found through the coefficient reference's
  // sheet: a reference without one cannot lead there.
  if (!AreaOfArgument(*coeffRef, coefArea, coefSheet, coefWithSheet) || !coefWithSheet ||
      !AreaOfArgument(*dataRef, dataArea, dataSheet, dataWithSheet)) {
    return ErrorResult(g_result, xlerrRef);
  }
  const long n = long{dataArea.colLast} - dataArea.colFirst + 1;
  const long coefRows = long{coefArea.rwLast} - coefArea.rwFirst + 1;
  if (coefArea.colLast != coefArea.colFirst || coefRows != n + 2 ||
      dataArea.rwLast != dataArea.rwFirst || n < 2 ||
      data.size() != static_cast<std::size_t>(n) ||
      coefficients.size() != static_cast<std::size_t>(n + 2)) {
    return ErrorResult(g_result, xlerrRef);
  }

  // Row 0 the means, row 1 the sigmas, from column A on.
  typename UcxRecords<Oper>::Table blockTable;
  blockTable.count = 1;
  blockTable.reftbl[0] = Ref{static_cast<decltype(Ref::rwFirst)>(coefArea.rwFirst + coefRows - 2),
                             static_cast<decltype(Ref::rwLast)>(coefArea.rwFirst + coefRows - 1), 0,
                             static_cast<decltype(Ref::colLast)>(n - 1)};
  Oper block;
  block.xltype = xltypeRef;
  block.val.mref.lpmref = &blockTable;
  block.val.mref.idSheet = coefSheet;
  CoercedArrayOf<Oper> moments(&block);
  if (moments.error() != 0) return ErrorResult(g_result, moments.error());
  if (moments.size() != static_cast<std::size_t>(2 * n) ||
      moments.LeadingNumbers(moments.size()) != moments.size()) {
    return ErrorResult(g_result, xlerrNum);
  }

  auto* z = static_cast<double*>(AllocGlobal(static_cast<std::size_t>(n) * sizeof(double)));
  if (z == nullptr) return nullptr;
  Oper* answer = nullptr;
  for (long c = 0; c < n && answer == nullptr; ++c) {
    const Oper& x = data.cell(static_cast<std::size_t>(c));
    if ((x.xltype & ~(xlbitXLFree | xlbitDLLFree)) != xltypeNum) answer = ErrorResult(g_result, xlerrNum);
    else z[c] = (x.val.num - moments.cell(c).val.num) / moments.cell(n + c).val.num;
  }
  double result = 0;
  for (long c = 0; c < n && answer == nullptr; ++c) {
    const Oper& k = coefficients.cell(static_cast<std::size_t>(c));
    if ((k.xltype & ~(xlbitXLFree | xlbitDLLFree)) != xltypeNum) answer = ErrorResult(g_result, xlerrNum);
    else result = z[c] * k.val.num + result;
  }
  FreeGlobal(z);
  if (answer != nullptr) return answer;
  g_result.xltype = xltypeNum;
  g_result.val.num = result;
  return &g_result;
}

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI UpdateUCX(LPXLOPER coeffRef, LPXLOPER dataRef) {
  return UpdateComponent(coeffRef, dataRef);
}

extern "C" HVT_EXPORT LPXLOPER12 WINAPI UpdateUCX12(LPXLOPER12 coeffRef, LPXLOPER12 dataRef) {
  return UpdateComponent(coeffRef, dataRef);
}
