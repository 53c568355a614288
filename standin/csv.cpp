// Opening a CSV file as Excel does: one workbook named after the file, one
// sheet named after it without its extension, each field typed on its own.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "standin/host.h"

namespace standin {
namespace {

// A field as it reads: numbers, booleans and error literals typed, empty
// fields blank, anything else text.
Value TypeField(const std::string& field) {
  if (field.empty()) return Blank{};
  if (auto number = ParseNumberText(field)) {
    // Spaces around a number keep it text in a CSV, as in Excel.
    if (field.front() != ' ' && field.back() != ' ' && field.front() != '\t' &&
        field.back() != '\t')
      return *number;
  }
  if (field.size() == 4 || field.size() == 5) {
    std::string upper;
    for (char c : field) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "TRUE") return true;
    if (upper == "FALSE") return false;
  }
  if (field[0] == '#') {
    int code = ErrorCodeOf(field);
    if (code >= 0) return Error{code};
  }
  return field;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

SheetId OpenCsvText(const std::string& file_name, std::string_view text) {
  std::string book = BaseName(file_name);
  if (book.empty()) throw HostError("a CSV workbook needs a file name");
  std::size_t dot = book.rfind('.');
  std::string sheet_name = dot == std::string::npos || dot == 0 ? book : book.substr(0, dot);

  // RFC 4180 fields; CRLF or LF ends a record, a quoted field may hold both.
  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  std::string field;
  bool quoted = false, was_quoted = false;
  const int row_limit = CurrentRowLimit();
  auto end_field = [&] {
    row.push_back(was_quoted && field.empty() ? Value{Blank{}} : TypeField(field));
    if (row.size() > static_cast<std::size_t>(kColumnLimit))
      throw HostError(file_name + ": a record has more than " + std::to_string(kColumnLimit) +
                      " fields");
    field.clear();
    was_quoted = false;
  };
  auto end_row = [&] {
    end_field();
    rows.push_back(std::move(row));
    row.clear();
    if (rows.size() > static_cast<std::size_t>(row_limit))
      throw HostError(file_name + ": more than " + std::to_string(row_limit) +
                      " rows, the sheet's limit");
  };
  std::size_t i = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") i = 3;  // byte-order mark
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty() && !was_quoted) {
      quoted = was_quoted = true;
    } else if (c == ',') {
      end_field();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // CRLF: the LF ends the record.
    } else if (c == '\n' || c == '\r') {
      end_row();
    } else {
      field += c;
    }
  }
  if (!field.empty() || !row.empty() || was_quoted) end_row();

  SheetId id = NewWorkbook(book, sheet_name);
  Sheet& sheet = SheetOrThrow(id);
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < rows[r].size(); ++c)
      if (!std::holds_alternative<Blank>(rows[r][c]))
        sheet.cells[Sheet::Key(static_cast<int>(r), static_cast<int>(c))].value = rows[r][c];
  BookOf(sheet)->changed = false;
  return id;
}

SheetId OpenCsvFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw HostError("cannot open " + path + ": a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HostError("cannot open " + path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw HostError("cannot read " + path);
  SheetId id = OpenCsvText(path, content.str());
  // Saved where it was read from, as a file Excel opened.
  if (Workbook* book = BookOf(SheetOrThrow(id))) {
    book->directory = std::filesystem::absolute(std::filesystem::path(path), ec).parent_path().string();
    book->changed = false;
  }
  return id;
}

}  // namespace standin
