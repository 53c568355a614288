// The evaluator: operators over scalars and arrays with Excel's broadcasting,
// references read with their formula cells calculated first, the built-in
// functions, and recalculation of the open workbooks.
// GCC 12 reports moves of std::variant<..., std::string> as reading an
// uninitialised string when sanitizers change inlining; a known false alarm.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <algorithm>
#include <cmath>
#include <functional>

#include "standin/csv_reader.h"
#include "standin/eval.h"
#include "standin/formula.h"
#include "standin/host.h"

namespace standin {
namespace {

constexpr long long kMaxCellsRead = 1LL << 22;

std::string Upper(const std::string& s) {
  std::string out;
  for (char c : s) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool TooManyToRead(const Area& area) {
  return static_cast<long long>(area.rows()) * area.columns() > kMaxCellsRead;
}

Array Single(Value v) {
  Array a;
  a.rows = a.columns = 1;
  a.cells.push_back(std::move(v));
  return a;
}

// The cell whose formula is being calculated; `plain` when it is not
// array-entered. Outside a cell (an evaluation asked for directly) nothing
// is intersected.
struct FormulaCell {
  bool known = false;
  bool plain = false;
  int row = 0, column = 0;
};
FormulaCell g_formulaCell;

bool Overlaps(const Area& a, const Area& b) {
  return a.first_row <= b.last_row && b.first_row <= a.last_row && a.first_col <= b.last_col &&
         b.first_col <= a.last_col;
}

void EnsureCalculated(const Sheet& sheet, const Area& area) {
  if (!H().recalc.recalculating) return;
  // Copy: calculating may not add units, but keep iteration safe anyway.
  std::vector<std::shared_ptr<FormulaUnit>> units = sheet.units;
  for (auto& unit : units)
    if (!unit->calculated && !unit->in_progress && Overlaps(unit->area, area))
      CalculateUnit(*unit);
}

// An operand as a scalar or an array (references read).
struct Shape {
  bool scalar = true;
  Value value;
  Array array;
};
Shape ShapeOf(const Operand& op) {
  Shape s;
  if (auto* v = std::get_if<Value>(&op.v)) {
    s.value = op.no_value ? Value{Error{xlerrNum}} : *v;
    return s;
  }
  s.scalar = false;
  if (auto* r = std::get_if<Ref>(&op.v)) {
    if (r->areas.size() != 1) {
      s.scalar = true;
      s.value = Error{xlerrValue};
      return s;
    }
    s.array = ReadRef(*r);
  } else {
    s.array = std::get<Array>(op.v);
  }
  if (s.array.rows == 1 && s.array.columns == 1) {
    s.scalar = true;
    s.value = s.array.cells[0];
  }
  return s;
}

// Element (r, c) of a shape: single rows and columns repeat, anything past
// the edge of a larger array is #N/A.
Value Element(const Shape& s, int r, int c) {
  if (s.scalar) return s.value;
  int rr = s.array.rows == 1 ? 0 : r;
  int cc = s.array.columns == 1 ? 0 : c;
  if (rr >= s.array.rows || cc >= s.array.columns) return Error{xlerrNA};
  return s.array.at(rr, cc);
}

Operand Elementwise(const std::vector<Shape>& shapes,
                    const std::function<Value(const std::vector<Value>&)>& f) {
  bool all_scalar = std::all_of(shapes.begin(), shapes.end(), [](const Shape& s) { return s.scalar; });
  std::vector<Value> values(shapes.size());
  if (all_scalar) {
    for (std::size_t i = 0; i < shapes.size(); ++i) values[i] = shapes[i].value;
    return Operand{f(values)};
  }
  Array out;
  out.rows = out.columns = 1;
  for (const Shape& s : shapes)
    if (!s.scalar) {
      out.rows = std::max(out.rows, s.array.rows);
      out.columns = std::max(out.columns, s.array.columns);
    }
  out.cells.reserve(static_cast<std::size_t>(out.rows) * out.columns);
  for (int r = 0; r < out.rows; ++r)
    for (int c = 0; c < out.columns; ++c) {
      for (std::size_t i = 0; i < shapes.size(); ++i) values[i] = Element(shapes[i], r, c);
      out.cells.push_back(f(values));
    }
  return Operand{std::move(out)};
}

Value Finite(double d) {
  if (std::isfinite(d)) return d;
  return Error{xlerrNum};
}

Value Arithmetic(const std::string& op, const Value& a, const Value& b) {
  Value x = ToNumber(a);
  if (std::holds_alternative<Error>(x)) return x;
  Value y = ToNumber(b);
  if (std::holds_alternative<Error>(y)) return y;
  double p = std::get<double>(x), q = std::get<double>(y);
  if (op == "+") return Finite(p + q);
  if (op == "-") return Finite(p - q);
  if (op == "*") return Finite(p * q);
  if (op == "/") {
    if (q == 0) return Error{xlerrDiv0};
    return Finite(p / q);
  }
  // "^"
  if (p == 0 && q == 0) return Error{xlerrNum};
  if (p == 0 && q < 0) return Error{xlerrDiv0};
  return Finite(std::pow(p, q));
}

// Excel's order between kinds: numbers, then text, then booleans; text
// ignores case; a blank takes the kind of the other side.
Value Compare(const std::string& op, Value a, Value b) {
  if (auto* e = std::get_if<Error>(&a)) return *e;
  if (auto* e = std::get_if<Error>(&b)) return *e;
  auto blank_as = [](const Value& other) -> Value {
    if (std::holds_alternative<std::string>(other)) return std::string();
    if (std::holds_alternative<bool>(other)) return false;
    return 0.0;
  };
  if (std::holds_alternative<Blank>(a)) a = blank_as(b);
  if (std::holds_alternative<Blank>(b)) b = blank_as(a);
  auto rank = [](const Value& v) {
    return std::holds_alternative<double>(v) ? 0 : std::holds_alternative<std::string>(v) ? 1 : 2;
  };
  int order = 0;
  if (rank(a) != rank(b)) {
    order = rank(a) < rank(b) ? -1 : 1;
  } else if (auto* p = std::get_if<double>(&a)) {
    double q = std::get<double>(b);
    order = *p < q ? -1 : *p > q ? 1 : 0;
  } else if (auto* s = std::get_if<std::string>(&a)) {
    std::string l = Upper(*s), r = Upper(std::get<std::string>(b));
    order = l < r ? -1 : l > r ? 1 : 0;
  } else {
    bool left = std::get<bool>(a), right = std::get<bool>(b);
    order = left == right ? 0 : (left ? 1 : -1);
  }
  if (op == "=") return order == 0;
  if (op == "<>") return order != 0;
  if (op == "<") return order < 0;
  if (op == ">") return order > 0;
  if (op == "<=") return order <= 0;
  return order >= 0;
}

// Numbers gathered as SUM, AVERAGE and their kind gather them.
struct Gathered {
  std::vector<double> numbers;
  std::optional<Error> error;
};
// Hands each number of the operands, in order, to take(number); answers
// the first error value met, if any.
template <typename Take>
std::optional<Error> GatherInto(const std::vector<Operand>& args, Take&& take) {
  std::optional<Error> error;
  auto from_value = [&](const Value& v) {
    if (auto* e = std::get_if<Error>(&v)) {
      if (!error) error = *e;
    } else if (auto* d = std::get_if<double>(&v)) {
      take(*d);
    }
  };
  auto from_array = [&](const Array& a) {
    for (const Value& v : a.cells) from_value(v);
  };
  for (const Operand& op : args) {
    if (op.missing) continue;
    if (auto* r = std::get_if<Ref>(&op.v)) {
      // Empty cells add nothing: only the stored ones are visited, so a
      // long column is not first copied cell by cell.
      for (const Area& area : r->areas) {
        const Sheet* sheet = FindSheetById(r->sheet);
        if (sheet == nullptr || !PrepareToRead(*sheet, area)) {
          from_array(ReadRef(Ref{r->sheet, {area}}));  // its error value
          continue;
        }
        sheet->VisitStored(area, [&](int, int, const Value& v) { from_value(v); });
      }
    } else if (auto* a = std::get_if<Array>(&op.v)) {
      from_array(*a);
    } else {
      Value n = op.no_value ? Value{Error{xlerrNum}} : ToNumber(std::get<Value>(op.v));
      from_value(n);
    }
  }
  return error;
}
Gathered Gather(const std::vector<Operand>& args) {
  Gathered g;
  g.error = GatherInto(args, [&](double d) { g.numbers.push_back(d); });
  return g;
}

using Builtin = Value (*)(const std::vector<Operand>&);

Value Sum(const std::vector<Operand>& args) { return SumOperands(args); }
Value Average(const std::vector<Operand>& args) {
  Gathered g = Gather(args);
  if (g.error) return *g.error;
  if (g.numbers.empty()) return Error{xlerrDiv0};
  double total = 0;
  for (double d : g.numbers) total += d;
  return Finite(total / static_cast<double>(g.numbers.size()));
}
Value Min(const std::vector<Operand>& args) {
  Gathered g = Gather(args);
  if (g.error) return *g.error;
  if (g.numbers.empty()) return 0.0;
  return *std::min_element(g.numbers.begin(), g.numbers.end());
}
Value Max(const std::vector<Operand>& args) {
  Gathered g = Gather(args);
  if (g.error) return *g.error;
  if (g.numbers.empty()) return 0.0;
  return *std::max_element(g.numbers.begin(), g.numbers.end());
}
Value Count(const std::vector<Operand>& args) { return CountOperands(args); }
}  // namespace

Value CountOperands(const std::vector<Operand>& args) {
  double n = 0;  // error values are passed over, not answered
  GatherInto(args, [&](double) { n += 1; });
  return n;
}

namespace {

struct BuiltinRow {
  const char* name;
  Builtin function;
};
constexpr BuiltinRow kBuiltins[] = {
    {"SUM", Sum}, {"AVERAGE", Average}, {"MIN", Min}, {"MAX", Max}, {"COUNT", Count},
};

Operand ResolveReference(const RefText& text, SheetId sheet) {
  SheetId id = sheet;
  if (!text.sheet.empty()) {
    std::string book = text.book;
    Sheet* here = FindSheetById(sheet);
    if (book.empty() && here) book = here->book;
    Sheet* target = FindSheetByName(book, text.sheet);
    // Without workbooks a sheet name alone names another document, whose
    // one sheet bears its name.
    if (target == nullptr && !H().app.workbooks && text.book.empty())
      target = FindSheetByName(text.sheet, text.sheet);
    if (target == nullptr) return Operand{Value{Error{xlerrRef}}};
    id = target->id;
  }
  return Operand{Ref{id, {text.area}}};
}

// ROW() or COLUMN(): of the formula's own cell without an argument (a
// direct evaluation has none: #VALUE!); of each row or column of the
// reference in an array formula, of its first row or column elsewhere.
Operand RowOrColumn(bool row, const std::vector<Operand>& args) {
  if (args.empty()) {
    if (!g_formulaCell.known) return Operand{Value{Error{xlerrValue}}};
    return Operand{Value{static_cast<double>((row ? g_formulaCell.row : g_formulaCell.column) + 1)}};
  }
  auto* ref = std::get_if<Ref>(&args[0].v);
  if (ref == nullptr || ref->areas.empty()) {
    auto* v = std::get_if<Value>(&args[0].v);
    if (v && std::holds_alternative<Error>(*v)) return args[0];
    return Operand{Value{Error{xlerrValue}}};
  }
  // Of several areas, the first.
  const Area& area = ref->areas[0];
  const int first = row ? area.first_row : area.first_col;
  const int count = row ? area.rows() : area.columns();
  const bool arrayEntered = g_formulaCell.known && !g_formulaCell.plain;
  if (count == 1 || !arrayEntered) return Operand{Value{static_cast<double>(first + 1)}};
  Array numbers;
  numbers.rows = row ? count : 1;
  numbers.columns = row ? 1 : count;
  for (int k = 0; k < count; ++k) numbers.cells.push_back(static_cast<double>(first + k + 1));
  return Operand{std::move(numbers)};
}

}  // namespace

Operand ImplicitIntersection(const Operand& op) {
  auto* ref = std::get_if<Ref>(&op.v);
  if (!g_formulaCell.plain || ref == nullptr) return op;
  if (ref->areas.size() != 1) return Operand{Value{Error{xlerrValue}}};
  const Area& area = ref->areas[0];
  // A single row or column gives its cell in the formula's column or row;
  // anything wider only where the formula sits inside it.
  auto pick = [](int first, int last, int own, int& at) {
    if (first == last) at = first;
    else if (own >= first && own <= last) at = own;
    else return false;
    return true;
  };
  int row = 0, column = 0;
  if (!pick(area.first_row, area.last_row, g_formulaCell.row, row) ||
      !pick(area.first_col, area.last_col, g_formulaCell.column, column))
    return Operand{Value{Error{xlerrValue}}};
  return Operand{Ref{ref->sheet, {Area{row, row, column, column}}}};
}

Value ToNumber(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto n = ReadNumberText(*s)) return *n;
    return Error{xlerrValue};
  }
  if (std::holds_alternative<Blank>(v)) return 0.0;
  return v;
}

Value ToText(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return GeneralText(*d);
  if (auto* b = std::get_if<bool>(&v)) return std::string(*b ? "TRUE" : "FALSE");
  if (std::holds_alternative<Blank>(v)) return std::string();
  return v;
}

Value ToBoolean(const Value& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b;
  if (auto* d = std::get_if<double>(&v)) return *d != 0;
  if (auto* s = std::get_if<std::string>(&v)) {
    std::string u = Upper(*s);
    if (u == "TRUE") return true;
    if (u == "FALSE") return false;
    return Error{xlerrValue};
  }
  if (std::holds_alternative<Blank>(v)) return false;
  return v;
}

Value SumOperands(const std::vector<Operand>& args) {
  double total = 0;  // added in the order gathered
  if (std::optional<Error> error = GatherInto(args, [&](double d) { total += d; }))
    return *error;
  return Finite(total);
}

bool PrepareToRead(const Sheet& sheet, const Area& area) {
  if (TooManyToRead(area)) return false;
  EnsureCalculated(sheet, area);
  return true;
}

Array ReadRef(const Ref& ref) {
  Sheet* sheet = FindSheetById(ref.sheet);
  if (sheet == nullptr || ref.areas.empty()) return Single(Error{xlerrRef});
  const Area& area = ref.areas[0];
  if (!PrepareToRead(*sheet, area)) return Single(Error{xlerrNum});
  Array out;
  out.rows = area.rows();
  out.columns = area.columns();
  out.cells.assign(static_cast<std::size_t>(out.rows) * out.columns, Blank{});
  sheet->VisitStored(area, [&](int r, int c, const Value& v) {
    out.cells[static_cast<std::size_t>(r - area.first_row) * out.columns + (c - area.first_col)] =
        v;
  });
  return out;
}

std::vector<FormulaUnit*> UncalculatedUnder(const Ref& ref) {
  std::vector<FormulaUnit*> found;
  if (!H().recalc.recalculating) return found;
  Sheet* sheet = FindSheetById(ref.sheet);
  if (sheet == nullptr) return found;
  for (auto& unit : sheet->units)
    if (!unit->calculated && !unit->in_progress)
      for (const Area& area : ref.areas)
        if (Overlaps(unit->area, area)) {
          found.push_back(unit.get());
          break;
        }
  return found;
}

Operand EvaluateNode(const Node& node, SheetId sheet) {
  switch (node.kind) {
    case Node::kConstant:
      return Operand{node.constant};
    case Node::kMissing: {
      Operand op{Value{Blank{}}};
      op.missing = true;
      return op;
    }
    case Node::kReference:
      return ResolveReference(node.ref, sheet);
    case Node::kUnion: {
      // Areas of one sheet only, as Excel's union; anything else is #VALUE!.
      Ref joined;
      for (const auto& part : node.args) {
        Operand op = EvaluateNode(*part, sheet);
        auto* ref = std::get_if<Ref>(&op.v);
        if (ref == nullptr) {
          if (auto* v = std::get_if<Value>(&op.v); v && std::holds_alternative<Error>(*v)) return op;
          return Operand{Value{Error{xlerrValue}}};
        }
        if (joined.areas.empty()) joined.sheet = ref->sheet;
        if (ref->sheet != joined.sheet) return Operand{Value{Error{xlerrValue}}};
        joined.areas.insert(joined.areas.end(), ref->areas.begin(), ref->areas.end());
      }
      return Operand{std::move(joined)};
    }
    case Node::kUnary: {
      std::vector<Shape> shapes{ShapeOf(ImplicitIntersection(EvaluateNode(*node.args[0], sheet)))};
      bool negate = node.op == "-";
      return Elementwise(shapes, [negate](const std::vector<Value>& v) -> Value {
        Value n = ToNumber(v[0]);
        if (auto* d = std::get_if<double>(&n)) return negate ? -*d : *d;
        return n;
      });
    }
    case Node::kBinary: {
      std::vector<Shape> shapes{ShapeOf(ImplicitIntersection(EvaluateNode(*node.args[0], sheet))),
                                ShapeOf(ImplicitIntersection(EvaluateNode(*node.args[1], sheet)))};
      const std::string op = node.op;
      return Elementwise(shapes, [op](const std::vector<Value>& v) -> Value {
        if (op == "&") {
          Value a = ToText(v[0]);
          if (std::holds_alternative<Error>(a)) return a;
          Value b = ToText(v[1]);
          if (std::holds_alternative<Error>(b)) return b;
          std::string joined = std::get<std::string>(a) + std::get<std::string>(b);
          if (joined.size() > 255) return Error{xlerrValue};
          return joined;
        }
        if (op == "+" || op == "-" || op == "*" || op == "/" || op == "^")
          return Arithmetic(op, v[0], v[1]);
        return Compare(op, v[0], v[1]);
      });
    }
    case Node::kCall: {
      std::vector<Operand> args;
      for (const auto& arg : node.args) args.push_back(EvaluateNode(*arg, sheet));
      std::string upper = Upper(node.name);
      if (upper == "ABS" && args.size() == 1) {
        std::vector<Shape> shapes{ShapeOf(ImplicitIntersection(args[0]))};
        return Elementwise(shapes, [](const std::vector<Value>& v) -> Value {
          Value n = ToNumber(v[0]);
          if (auto* d = std::get_if<double>(&n)) return std::fabs(*d);
          return n;
        });
      }
      if ((upper == "COLUMN" || upper == "ROW") && args.size() <= 1)
        return RowOrColumn(upper == "ROW", args);
      for (const BuiltinRow& row : kBuiltins)
        if (upper == row.name) return Operand{row.function(args)};
      if (const Registered* function = FindRegisteredFunction(node.name))
        return CallRegistered(*function, args, sheet);
      return Operand{Value{Error{xlerrName}}};
    }
  }
  return Operand{Value{Error{xlerrValue}}};
}

void StoreResult(FormulaUnit& unit, const Operand& result) {
  Sheet& sheet = SheetOrThrow(unit.sheet);
  Shape shape = ShapeOf(unit.is_array ? result : ImplicitIntersection(result));
  auto put = [&](int r, int c, Value v) {
    // A formula that reads an empty cell shows 0.
    if (std::holds_alternative<Blank>(v)) v = 0.0;
    Cell& cell = sheet.cells[Sheet::Key(unit.area.first_row + r, unit.area.first_col + c)];
    cell.value = std::move(v);
  };
  for (int r = 0; r < unit.area.rows(); ++r)
    for (int c = 0; c < unit.area.columns(); ++c) {
      if (shape.scalar) put(r, c, shape.value);
      else if (!unit.is_array) put(r, c, shape.array.at(0, 0));
      else put(r, c, Element(shape, r, c));
    }
}

void CalculateUnit(FormulaUnit& unit) {
  struct Guard {
    FormulaUnit& unit;
    SheetId saved;
    FormulaCell cell;
    ~Guard() {
      unit.in_progress = false;
      H().recalc.calling_sheet = saved;
      g_formulaCell = cell;
    }
  } guard{unit, H().recalc.calling_sheet, g_formulaCell};
  unit.in_progress = true;
  H().recalc.calling_sheet = unit.sheet;
  g_formulaCell = FormulaCell{true, !unit.is_array, unit.area.first_row, unit.area.first_col};
  Operand result = EvaluateNode(*unit.tree, unit.sheet);
  StoreResult(unit, result);
  unit.calculated = true;
}

}  // namespace standin
