// Formula texts into syntax trees: constants, references, operators with
// Excel's precedence, and calls by name.
#include <charconv>
#include <cstring>

#include "standin/formula.h"

namespace standin {
namespace {

class Parser {
 public:
  Parser(std::string_view text, int row_limit) : t_(text), row_limit_(row_limit) {}

  std::unique_ptr<Node> Whole() {
    SkipSpace();
    if (Peek() == '=') ++pos_;
    auto node = Comparison();
    SkipSpace();
    if (pos_ != t_.size()) Fail("unexpected text");
    return node;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw HostError("formula error at position " + std::to_string(pos_ + 1) + ": " + what +
                    " in " + std::string(t_));
  }
  char Peek(std::size_t ahead = 0) const {
    return pos_ + ahead < t_.size() ? t_[pos_ + ahead] : '\0';
  }
  void SkipSpace() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') ++pos_;
  }
  bool Accept(std::string_view token) {
    SkipSpace();
    if (t_.substr(pos_, token.size()) == token) {
      pos_ += token.size();
      return true;
    }
    return false;
  }
  std::unique_ptr<Node> Binary(std::string op, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
    auto n = std::make_unique<Node>();
    n->kind = Node::kBinary;
    n->op = std::move(op);
    n->args.push_back(std::move(a));
    n->args.push_back(std::move(b));
    return n;
  }

  std::unique_ptr<Node> Comparison() {
    auto left = Concat();
    while (true) {
      SkipSpace();
      std::string op;
      for (const char* candidate : {"<>", "<=", ">=", "=", "<", ">"})
        if (t_.substr(pos_, std::strlen(candidate)) == candidate) {
          op = candidate;
          break;
        }
      if (op.empty()) return left;
      pos_ += op.size();
      left = Binary(op, std::move(left), Concat());
    }
  }
  std::unique_ptr<Node> Concat() {
    auto left = Additive();
    while (Accept("&")) left = Binary("&", std::move(left), Additive());
    return left;
  }
  std::unique_ptr<Node> Additive() {
    auto left = Multiplicative();
    while (true) {
      if (Accept("+")) left = Binary("+", std::move(left), Multiplicative());
      else if (Accept("-")) left = Binary("-", std::move(left), Multiplicative());
      else return left;
    }
  }
  std::unique_ptr<Node> Multiplicative() {
    auto left = Power();
    while (true) {
      if (Accept("*")) left = Binary("*", std::move(left), Power());
      else if (Accept("/")) left = Binary("/", std::move(left), Power());
      else return left;
    }
  }
  // Left to right, and below the sign: -2^2 is 4 in a worksheet.
  std::unique_ptr<Node> Power() {
    auto left = Unary();
    while (Accept("^")) left = Binary("^", std::move(left), Unary());
    return left;
  }
  std::unique_ptr<Node> Unary() {
    SkipSpace();
    if (Peek() == '-' || Peek() == '+') {
      auto n = std::make_unique<Node>();
      n->kind = Node::kUnary;
      n->op = std::string(1, t_[pos_++]);
      n->args.push_back(Unary());
      return n;
    }
    return Primary();
  }

  std::unique_ptr<Node> Constant(Value v) {
    auto n = std::make_unique<Node>();
    n->kind = Node::kConstant;
    n->constant = std::move(v);
    return n;
  }

  std::unique_ptr<Node> Primary() {
    SkipSpace();
    char c = Peek();
    if (c == '\0') Fail("missing operand");
    if (c == '(') {
      ++pos_;
      auto inner = Comparison();
      // Inside parentheses a comma joins references: (A1:A4,C1:C4).
      if (Accept(",")) {
        auto joined = std::make_unique<Node>();
        joined->kind = Node::kUnion;
        joined->args.push_back(std::move(inner));
        do {
          joined->args.push_back(Comparison());
        } while (Accept(","));
        inner = std::move(joined);
      }
      if (!Accept(")")) Fail("missing )");
      return inner;
    }
    if (c == '"') return StringLiteral();
    if (c == '#') {
      for (int code : {xlerrNull, xlerrDiv0, xlerrValue, xlerrRef, xlerrName, xlerrNum, xlerrNA}) {
        std::string name = ErrorText(code);
        if (ErrorCodeOf(t_.substr(pos_, name.size())) == code) {
          pos_ += name.size();
          return Constant(Error{code});
        }
      }
      Fail("unknown error value");
    }
    if (auto ref = Reference()) return ref;
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return NumberLiteral();
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') return NameOrCall();
    Fail(std::string("unexpected '") + c + "'");
  }

  std::unique_ptr<Node> StringLiteral() {
    ++pos_;
    std::string text;
    while (true) {
      if (pos_ >= t_.size()) Fail("unterminated text");
      char c = t_[pos_++];
      if (c == '"') {
        if (Peek() == '"') {
          text += '"';
          ++pos_;
          continue;
        }
        break;
      }
      text += c;
    }
    if (text.size() > 255) Fail("text longer than 255 characters");
    return Constant(text);
  }

  std::unique_ptr<Node> NumberLiteral() {
    std::size_t start = pos_;
    while (std::isdigit(static_cast<unsigned char>(Peek())) || Peek() == '.') ++pos_;
    if (Peek() == 'e' || Peek() == 'E') {
      std::size_t mark = pos_++;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!std::isdigit(static_cast<unsigned char>(Peek()))) pos_ = mark;
      while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
    }
    double value = 0;
    auto r = std::from_chars(t_.data() + start, t_.data() + pos_, value);
    if (r.ec != std::errc() || r.ptr != t_.data() + pos_) Fail("bad number");
    return Constant(value);
  }

  // A reference, with or without a sheet prefix, ending where a name would
  // not go on.
  std::unique_ptr<Node> Reference() {
    std::size_t start = pos_;
    std::string book, sheet;
    bool prefixed = ScanSheetPrefix(t_, pos_, book, sheet);
    auto area = ScanA1Area(t_, pos_, row_limit_);
    if (area && !IdentChar(Peek()) && Peek() != '(') {
      auto n = std::make_unique<Node>();
      n->kind = Node::kReference;
      n->ref = *area;
      n->ref.book = book;
      n->ref.sheet = sheet;
      return n;
    }
    if (prefixed) {
      pos_ = start;
      Fail("bad reference");
    }
    pos_ = start;
    return nullptr;
  }

  std::unique_ptr<Node> NameOrCall() {
    std::size_t start = pos_;
    while (IdentChar(Peek())) ++pos_;
    std::string name(t_.substr(start, pos_ - start));
    SkipSpace();
    if (Peek() != '(') {
      std::string upper;
      for (char ch : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      if (upper == "TRUE") return Constant(true);
      if (upper == "FALSE") return Constant(false);
      return Constant(Error{xlerrName});  // an undefined name
    }
    ++pos_;
    auto n = std::make_unique<Node>();
    n->kind = Node::kCall;
    n->name = name;
    SkipSpace();
    if (Accept(")")) return n;
    while (true) {
      SkipSpace();
      if (Peek() == ',' || Peek() == ')') {
        auto missing = std::make_unique<Node>();
        missing->kind = Node::kMissing;
        n->args.push_back(std::move(missing));
      } else {
        n->args.push_back(Comparison());
      }
      if (n->args.size() > 30) Fail("more than 30 arguments");
      if (Accept(",")) continue;
      if (Accept(")")) return n;
      Fail("missing ) after arguments");
    }
  }

  std::string_view t_;
  int row_limit_;
  std::size_t pos_ = 0;
};

}  // namespace

std::unique_ptr<Node> ParseFormula(std::string_view text, int row_limit) {
  if (text.size() > 1024) throw HostError("formula longer than 1024 characters");
  return Parser(text, row_limit).Whole();
}

}  // namespace standin
