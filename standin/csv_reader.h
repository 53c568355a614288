// Reading CSV text as Excel (English, United States) reads a file it opens:
// RFC 4180 quoting, CR, LF or CRLF line ends, a UTF-8 byte-order mark, every
// line one sheet row (an empty line an empty row), and each field typed as
// Excel types it. The one reader behind every CSV file the stand-in opens and
// every file the hvt command reads.
#ifndef HVT_STANDIN_CSV_READER_H
#define HVT_STANDIN_CSV_READER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/standin.h"

namespace standin {

// The number a text stands for when Excel reads it as typed, or nothing when
// it reads as text. Besides plain decimals ("-1.5", "+4", ".5", "1E+5"),
// with spaces around them: thousands separators in groups of three
// ("1,234.50"), a trailing percent sign ("5%" is 0.05), a leading dollar
// sign ("$99.10", "-$5", "$-5"), parentheses for a negative ("(2)",
// "($1,234)"), dates from 1900-01-01 to 9999-12-31 as yyyy-mm-dd or
// m/d/yyyy (or m/d/yy) to their serial numbers ("2020-01-02" is 43832),
// times as h:mm[:ss] with an optional AM or PM, and a date followed by a
// time. "nan", "inf", "infinity", hexadecimal and anything else are text; so
// is a number beyond the range of a double. Every number is the double
// nearest to the decimal written; -0 reads as 0.
STANDIN_API std::optional<double> ReadNumberText(std::string_view text);

enum class FieldKind : std::uint8_t { kBlank, kNumber, kText, kBoolean, kError };

struct CsvField {
  FieldKind kind = FieldKind::kBlank;
  // The number; 1 or 0 for TRUE or FALSE; the error code for "#N/A" and the
  // other error literals.
  double number = 0;
  // The field's text with its quotes taken off and doubled quotes single.
  std::string_view text;
};

// How one field's text reads: empty is blank, then a number, TRUE or FALSE
// (any case), an error literal, else text.
STANDIN_API CsvField TypeCsvField(std::string_view text);

// Walks the records of a CSV text one at a time. A quoted field may hold
// commas, quotes written twice and line breaks; a quote anywhere else is an
// ordinary character. A record ends at CR, LF or CRLF; a line end at the very
// end of the text ends the last record and starts no other. The fields of a
// record stay valid until the next call of Next.
class STANDIN_API CsvReader {
 public:
  explicit CsvReader(std::string text);
  // Reads the next record; false when the text is done.
  bool Next();
  const std::vector<CsvField>& fields() const { return fields_; }
  // The record's sheet row, from 1.
  long row() const { return row_; }

 private:
  std::string text_;  // unquoted in place, so fields need no storage of their own
  std::size_t pos_ = 0;
  long row_ = 0;
  std::vector<CsvField> fields_;
};

// The bytes of a file, or of standard input for "-". Throws HostError naming
// the file for a directory, a file that cannot be opened and a read that
// fails part way.
STANDIN_API std::string ReadInputFile(const std::string& path);

}  // namespace standin

#endif  // HVT_STANDIN_CSV_READER_H
