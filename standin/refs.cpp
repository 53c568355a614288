#include "standin/refs.h"

#include <cctype>
#include <cstring>

namespace standin {
namespace {

bool IsAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Reads 1..7 digits as a one-based number.
bool ScanNumber(std::string_view t, std::size_t& pos, long& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < t.size() && IsDigit(t[pos]) && pos - start < 8) value = value * 10 + (t[pos++] - '0');
  if (pos == start || (pos < t.size() && IsDigit(t[pos]))) {
    pos = start;
    return false;
  }
  return true;
}

// Column letters A..IV, or A..XFD on the big sheet (case-insensitive),
// zero-based.
bool ScanColumn(std::string_view t, std::size_t& pos, int column_limit, int& column) {
  std::size_t start = pos;
  long value = 0;
  while (pos < t.size() && IsAlpha(t[pos]) && pos - start < 3)
    value = value * 26 + (std::toupper(static_cast<unsigned char>(t[pos++])) - 'A' + 1);
  if (pos == start || (pos < t.size() && IsAlpha(t[pos])) || value > column_limit) {
    pos = start;
    return false;
  }
  column = static_cast<int>(value - 1);
  return true;
}

bool ScanRow(std::string_view t, std::size_t& pos, int row_limit, int& row) {
  long value = 0;
  std::size_t start = pos;
  if (!ScanNumber(t, pos, value)) return false;
  if (value < 1 || value > row_limit) {
    pos = start;
    return false;
  }
  row = static_cast<int>(value - 1);
  return true;
}

struct Corner {
  int row = -1, col = -1;
  bool abs_row = false, abs_col = false;
};

// [$]col[$]row, [$]col alone or [$]row alone, as allowed.
bool ScanCorner(std::string_view t, std::size_t& pos, int row_limit, Corner& c,
                bool allow_col_only, bool allow_row_only) {
  std::size_t start = pos;
  c = Corner{};
  bool dollar = pos < t.size() && t[pos] == '$';
  if (dollar) ++pos;
  if (ScanColumn(t, pos, ColumnLimitFor(row_limit), c.col)) {
    c.abs_col = dollar;
    bool dollar_row = pos < t.size() && t[pos] == '$';
    std::size_t before = pos;
    if (dollar_row) ++pos;
    if (ScanRow(t, pos, row_limit, c.row)) {
      c.abs_row = dollar_row;
      return true;
    }
    pos = before;
    if (allow_col_only) return true;
  } else if (allow_row_only && ScanRow(t, pos, row_limit, c.row)) {
    c.abs_row = dollar;
    return true;
  }
  pos = start;
  return false;
}

// Excel writes a name bare only when it is letters, digits, underscores and
// dots (RC.XLS!A1) and cannot be read as a reference; a name that begins
// with R or C and a digit (R1.XLS) and everything else goes in quotes.
bool NeedsQuotes(const std::string& name) {
  if (name.empty()) return false;
  if (IsDigit(name[0])) return true;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) return true;
  if (name.size() > 1 && std::strchr("RrCc", name[0]) != nullptr && IsDigit(name[1])) return true;
  // A name that reads as a cell would be taken for one.
  std::size_t pos = 0;
  Corner corner;
  if (ScanCorner(name, pos, 1 << 20, corner, false, false) && pos == name.size()) return true;
  if ((name[0] == 'R' || name[0] == 'r' || name[0] == 'C' || name[0] == 'c') &&
      ParseR1C1(name, 1 << 20).has_value())
    return true;
  return false;
}

bool ScanSigned(std::string_view t, std::size_t& pos, long& value) {
  bool negative = pos < t.size() && t[pos] == '-';
  if (negative || (pos < t.size() && t[pos] == '+')) ++pos;
  if (!ScanNumber(t, pos, value)) return false;
  if (negative) value = -value;
  return true;
}

// One R1C1 part: "R", "R5", "R[-2]" (letter given). relative: true when the
// part is bracketed or bare.
bool ScanR1C1Part(std::string_view t, std::size_t& pos, char letter, int base,
                  int limit, int& index, bool& absolute) {
  if (pos >= t.size() || std::toupper(static_cast<unsigned char>(t[pos])) != letter) return false;
  std::size_t start = pos++;
  long value = 0;
  if (pos < t.size() && t[pos] == '[') {
    ++pos;
    if (!ScanSigned(t, pos, value) || pos >= t.size() || t[pos] != ']') {
      pos = start;
      return false;
    }
    ++pos;
    absolute = false;
    value += base;
  } else if (pos < t.size() && IsDigit(t[pos])) {
    if (!ScanNumber(t, pos, value)) {
      pos = start;
      return false;
    }
    absolute = true;
    value -= 1;
  } else {
    absolute = false;
    value = base;
  }
  if (value < 0 || value >= limit) {
    pos = start;
    return false;
  }
  index = static_cast<int>(value);
  return true;
}

}  // namespace

std::string ColumnName(int column) {
  std::string name;
  int n = column + 1;
  while (n > 0) {
    int rem = (n - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rem));
    n = (n - 1) / 26;
  }
  return name;
}

bool ScanSheetPrefix(std::string_view t, std::size_t& pos, std::string& book,
                     std::string& sheet) {
  std::size_t p = pos;
  std::string b, s;
  if (p < t.size() && t[p] == '\'') {
    ++p;
    std::string inner;
    while (true) {
      if (p >= t.size()) return false;
      if (t[p] == '\'') {
        if (p + 1 < t.size() && t[p + 1] == '\'') {
          inner += '\'';
          p += 2;
          continue;
        }
        ++p;
        break;
      }
      inner += t[p++];
    }
    if (p >= t.size() || t[p] != '!') return false;
    ++p;
    if (!inner.empty() && inner[0] == '[') {
      // A sheet name never holds "]": the last one closes the book.
      std::size_t close = inner.rfind(']');
      if (close == std::string::npos) return false;
      b = inner.substr(1, close - 1);
      s = inner.substr(close + 1);
    } else {
      s = inner;
    }
  } else {
    if (p < t.size() && t[p] == '[') {
      std::size_t close = t.find(']', p);
      if (close == std::string_view::npos) return false;
      b = std::string(t.substr(p + 1, close - p - 1));
      p = close + 1;
    }
    std::size_t start = p;
    while (p < t.size() && (std::isalnum(static_cast<unsigned char>(t[p])) || t[p] == '_' || t[p] == '.'))
      ++p;
    if (p == start || p >= t.size() || t[p] != '!') return false;
    s = std::string(t.substr(start, p - start));
    ++p;
  }
  if (s.empty()) return false;
  book = b;
  sheet = s;
  pos = p;
  return true;
}

namespace {
// Corners with no row (a column alone, "C:D" or "C3") or no column ("5:7",
// "R5") reach across the whole sheet.
template <typename Corner>
void SpanWholeLines(Corner& a, Corner& b, RefText& ref, int row_limit) {
  if (a.row < 0) {
    ref.whole_columns = true;
    a.row = 0;
    b.row = row_limit - 1;
  } else if (a.col < 0) {
    ref.whole_rows = true;
    a.col = 0;
    b.col = ColumnLimitFor(row_limit) - 1;
  }
}
}  // namespace

std::optional<RefText> ScanA1Area(std::string_view t, std::size_t& pos, int row_limit) {
  std::size_t start = pos;
  Corner a, b;
  if (!ScanCorner(t, pos, row_limit, a, true, true)) return std::nullopt;
  RefText ref;
  bool has_second = false;
  if (pos < t.size() && t[pos] == ':') {
    std::size_t colon = pos++;
    bool col_only = a.row < 0, row_only = a.col < 0;
    if (ScanCorner(t, pos, row_limit, b, col_only, row_only) &&
        (b.row < 0) == col_only && (b.col < 0) == row_only) {
      has_second = true;
    } else {
      pos = colon;
    }
  }
  if (!has_second) {
    if (a.row < 0 || a.col < 0) {  // "A" or "5" alone is no reference
      pos = start;
      return std::nullopt;
    }
    b = a;
  }
  SpanWholeLines(a, b, ref, row_limit);
  ref.area.first_row = std::min(a.row, b.row);
  ref.area.last_row = std::max(a.row, b.row);
  ref.area.first_col = std::min(a.col, b.col);
  ref.area.last_col = std::max(a.col, b.col);
  ref.abs_row1 = a.abs_row;
  ref.abs_col1 = a.abs_col;
  ref.abs_row2 = b.abs_row;
  ref.abs_col2 = b.abs_col;
  return ref;
}

std::optional<RefText> ParseA1(std::string_view text, int row_limit) {
  std::size_t pos = 0;
  std::string book, sheet;
  ScanSheetPrefix(text, pos, book, sheet);
  auto ref = ScanA1Area(text, pos, row_limit);
  if (!ref || pos != text.size()) return std::nullopt;
  ref->book = book;
  ref->sheet = sheet;
  return ref;
}

std::optional<RefText> ParseR1C1(std::string_view text, int row_limit, int base_row,
                                 int base_col) {
  std::size_t pos = 0;
  RefText ref;
  ScanSheetPrefix(text, pos, ref.book, ref.sheet);
  struct Part {
    int row = -1, col = -1;
    bool abs_row = false, abs_col = false;
  };
  auto scan = [&](Part& p) {
    std::size_t start = pos;
    bool has_r = ScanR1C1Part(text, pos, 'R', base_row, row_limit, p.row, p.abs_row);
    bool has_c = ScanR1C1Part(text, pos, 'C', base_col, ColumnLimitFor(row_limit), p.col, p.abs_col);
    if (!has_r) p.row = -1;
    if (!has_c) p.col = -1;
    if (!has_r && !has_c) pos = start;
    return has_r || has_c;
  };
  Part a, b;
  if (!scan(a)) return std::nullopt;
  bool has_second = false;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!scan(b) || (b.row < 0) != (a.row < 0) || (b.col < 0) != (a.col < 0)) return std::nullopt;
    has_second = true;
  }
  if (pos != text.size()) return std::nullopt;
  if (!has_second) b = a;
  SpanWholeLines(a, b, ref, row_limit);
  ref.area = {std::min(a.row, b.row), std::max(a.row, b.row), std::min(a.col, b.col),
              std::max(a.col, b.col)};
  ref.abs_row1 = a.abs_row;
  ref.abs_col1 = a.abs_col;
  ref.abs_row2 = b.abs_row;
  ref.abs_col2 = b.abs_col;
  return ref;
}

std::string SheetPrefix(const std::string& book, const std::string& sheet) {
  if (sheet.empty()) return "";
  std::string inner = book.empty() ? sheet : "[" + book + "]" + sheet;
  if (!NeedsQuotes(sheet) && !NeedsQuotes(book.empty() ? "x" : std::string("x") + book))
    return inner + "!";
  std::string quoted = "'";
  for (char c : inner) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'!";
}

std::string PrintA1(const RefText& r) {
  auto col = [](int c, bool abs) { return (abs ? "$" : "") + ColumnName(c); };
  auto row = [](int rw, bool abs) { return (abs ? "$" : "") + std::to_string(rw + 1); };
  std::string out = SheetPrefix(r.book, r.sheet);
  const Area& a = r.area;
  if (r.whole_columns)
    return out + col(a.first_col, r.abs_col1) + ":" + col(a.last_col, r.abs_col2);
  if (r.whole_rows)
    return out + row(a.first_row, r.abs_row1) + ":" + row(a.last_row, r.abs_row2);
  out += col(a.first_col, r.abs_col1) + row(a.first_row, r.abs_row1);
  if (a.rows() > 1 || a.columns() > 1)
    out += ":" + col(a.last_col, r.abs_col2) + row(a.last_row, r.abs_row2);
  return out;
}

std::string PrintR1C1(const RefText& r, int base_row, int base_col) {
  auto part = [](char letter, int index, bool abs, int base) {
    std::string s(1, letter);
    if (abs) return s + std::to_string(index + 1);
    if (index != base) s += "[" + std::to_string(index - base) + "]";
    return s;
  };
  std::string out = SheetPrefix(r.book, r.sheet);
  const Area& a = r.area;
  if (r.whole_columns) {
    out += part('C', a.first_col, r.abs_col1, base_col);
    if (a.columns() > 1) out += ":" + part('C', a.last_col, r.abs_col2, base_col);
    return out;
  }
  if (r.whole_rows) {
    out += part('R', a.first_row, r.abs_row1, base_row);
    if (a.rows() > 1) out += ":" + part('R', a.last_row, r.abs_row2, base_row);
    return out;
  }
  out += part('R', a.first_row, r.abs_row1, base_row) + part('C', a.first_col, r.abs_col1, base_col);
  if (a.rows() > 1 || a.columns() > 1)
    out += ":" + part('R', a.last_row, r.abs_row2, base_row) +
           part('C', a.last_col, r.abs_col2, base_col);
  return out;
}

}  // namespace standin
