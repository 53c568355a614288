// Formula texts as users type them, parsed into a small syntax tree.
#ifndef HVT_STANDIN_FORMULA_H
#define HVT_STANDIN_FORMULA_H

#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standin/host.h"

namespace standin {

struct Node {
  enum Kind { kConstant, kReference, kUnary, kBinary, kCall, kMissing, kUnion };
  Kind kind = kConstant;
  Value constant;      // kConstant
  RefText ref;         // kReference (book/sheet empty: the formula's sheet)
  std::string op;      // kUnary "-" "+", kBinary "+" "-" "*" "/" "^" "&" "=" "<>" "<" ">" "<=" ">="
  std::string name;    // kCall, as typed
  std::vector<std::unique_ptr<Node>> args;  // kUnion: the references joined
};

// A character of a name in a formula (function, sheet or book name).
inline bool IdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

// Parses "=..." (the leading "=" is optional). Throws HostError with the
// position on a syntax error.
std::unique_ptr<Node> ParseFormula(std::string_view text, int row_limit);

// Evaluation (eval.cpp). The context is the sheet the formula sits on.
Operand EvaluateNode(const Node& node, SheetId sheet);
// Values of a reference's first area, calculating formula cells first.
Array ReadRef(const Ref& ref);
// Calculates one formula unit and stores its values in its cells.
void CalculateUnit(FormulaUnit& unit);
// Formula units met by a reference that are not yet calculated in this
// recalculation (and not being calculated right now).
std::vector<FormulaUnit*> UncalculatedUnder(const Ref& ref);
// SUM over operands as Excel sums: numbers in references and arrays only,
// numeric scalars converted; the first error found wins.
Value SumOperands(const std::vector<Operand>& args);
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

#endif  // HVT_STANDIN_FORMULA_H
