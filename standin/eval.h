// Evaluating formula trees over the workbook model, and calling the add-in's
// registered functions from a formula.
#ifndef HVT_STANDIN_EVAL_H
#define HVT_STANDIN_EVAL_H

#include <string>
#include <vector>

#include "standin/link.h"
#include "standin/model.h"

namespace standin {

struct Node;  // formula.h

// The recalculation in progress.
struct Recalculation {
  bool recalculating = false;
  // Units met uncalculated by the add-in call in progress.
  std::vector<FormulaUnit*> uncalced_hits;
  SheetId calling_sheet = 0;  // sheet of the formula being evaluated
};

// Evaluation (eval.cpp). The context is the sheet the formula sits on.
Operand EvaluateNode(const Node& node, SheetId sheet);
// Values of a reference's first area, calculating formula cells first.
Array ReadRef(const Ref& ref);
// Readies an area for Sheet::VisitStored: its formula cells calculated
// first. False, with nothing calculated, when the area holds more cells
// than a read may take (ReadRef answers #NUM! for it).
bool PrepareToRead(const Sheet& sheet, const Area& area);
// Calculates one formula unit and stores its values in its cells.
void CalculateUnit(FormulaUnit& unit);
// Formula units met by a reference that are not yet calculated in this
// recalculation (and not being calculated right now).
std::vector<FormulaUnit*> UncalculatedUnder(const Ref& ref);
// SUM over operands as Excel sums: numbers in references and arrays only,
// numeric scalars converted; the first error found wins.
Value SumOperands(const std::vector<Operand>& args);
// COUNT: how many numbers the operands hold, as Excel counts them.
Value CountOperands(const std::vector<Operand>& args);
// Conversions Excel applies to scalar arguments.
Value ToNumber(const Value& value);  // double or Error
Value ToText(const Value& value);    // string or Error
Value ToBoolean(const Value& value); // bool or Error
// A range where a plain formula wants one value: its cell in the formula's
// row or column, or #VALUE! when it has none there. Anything else, and
// everything in an array formula, is left as it is.
Operand ImplicitIntersection(const Operand& op);
// Writes a result into the unit's cells with Excel's array fill rules.
void StoreResult(FormulaUnit& unit, const Operand& result);

// Registered functions (addin.cpp).
const Registered* FindRegisteredFunction(const std::string& function_text);
Operand CallRegistered(const Registered& function, const std::vector<Operand>& args,
                       SheetId sheet);

}  // namespace standin

#endif  // HVT_STANDIN_EVAL_H
