// Formula texts as users type them, parsed into a small syntax tree. The
// parser knows nothing of workbooks: evaluation is in eval.h.
#ifndef HVT_STANDIN_FORMULA_H
#define HVT_STANDIN_FORMULA_H

#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standin/refs.h"
#include "standin/standin.h"

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

}  // namespace standin

#endif  // HVT_STANDIN_FORMULA_H
