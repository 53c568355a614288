// Reference texts: A1 and R1C1 forms, parsed and printed. Rows and columns
// are zero-based inside, one-based in the texts.
#ifndef HVT_STANDIN_REFS_H
#define HVT_STANDIN_REFS_H

#include <optional>
#include <string>
#include <string_view>

namespace standin {

struct Area {
  int first_row = 0, last_row = 0, first_col = 0, last_col = 0;
  int rows() const { return last_row - first_row + 1; }
  int columns() const { return last_col - first_col + 1; }
  bool operator==(const Area&) const = default;
};

struct RefText {
  std::string book;   // empty: none given
  std::string sheet;  // empty: none given
  Area area;
  bool whole_columns = false;  // "A:B", "C1:C2"
  bool whole_rows = false;     // "1:3", "R1:R3"
  // Absolute marks of the first and second corner ($ in A1, no brackets in
  // R1C1). A single cell uses the first pair for both corners.
  bool abs_row1 = false, abs_col1 = false, abs_row2 = false, abs_col2 = false;
  bool operator==(const RefText&) const = default;
};

std::string ColumnName(int column);  // 0 -> "A", 255 -> "IV"

// The columns of a grid of so many rows: 256 up to 65,536 rows, 16,384 on
// the 1,048,576-row sheet of version 12 on.
constexpr int ColumnLimitFor(int row_limit) { return row_limit > 65536 ? 16384 : 256; }

// Reads an optional "[Book]Sheet!" or "'[Book]My Sheet'!" prefix at pos.
// On success fills book and sheet, advances pos past the "!" and answers
// true; otherwise leaves pos alone.
bool ScanSheetPrefix(std::string_view text, std::size_t& pos, std::string& book,
                     std::string& sheet);

// Whole texts; nothing when the text is not a reference within the limits.
// R1C1 relative parts ("R[-1]C[2]") are taken from base_row/base_col.
std::optional<RefText> ParseA1(std::string_view text, int row_limit);
std::optional<RefText> ParseR1C1(std::string_view text, int row_limit,
                                 int base_row = 0, int base_col = 0);
// A1 area part only (no sheet prefix) starting at pos; advances pos.
std::optional<RefText> ScanA1Area(std::string_view text, std::size_t& pos,
                                  int row_limit);

// The "'[Book]Sheet'!" prefix as Excel writes it (quoted when needed);
// empty when the reference carries no sheet.
std::string SheetPrefix(const std::string& book, const std::string& sheet);
std::string PrintA1(const RefText& ref);
std::string PrintR1C1(const RefText& ref, int base_row = 0, int base_col = 0);

}  // namespace standin

#endif  // HVT_STANDIN_REFS_H
