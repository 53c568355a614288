// Opening a CSV file as Excel does: one workbook named after the file, one
// sheet named after it without its extension, each field typed on its own.
#include <filesystem>

#include "standin/csv_reader.h"
#include "standin/host.h"

namespace standin {
namespace {

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Value CellValue(const CsvField& field) {
  switch (field.kind) {
    case FieldKind::kBlank: return Blank{};
    case FieldKind::kNumber: return field.number;
    case FieldKind::kBoolean: return field.number != 0;
    case FieldKind::kError: return Error{static_cast<int>(field.number)};
    case FieldKind::kText: break;
  }
  return std::string(field.text);
}

SheetId OpenCsv(const std::string& file_name, std::string text) {
  std::string book = BaseName(file_name);
  if (book.empty()) throw HostError("a CSV workbook needs a file name");
  std::size_t dot = book.rfind('.');
  std::string sheet_name = dot == std::string::npos || dot == 0 ? book : book.substr(0, dot);
  // The sheet takes the file's name as far as a sheet name may go: 31
  // characters, cut between two characters of the UTF-8, never inside one.
  std::size_t cut = 0;
  for (int characters = 0; cut < sheet_name.size(); ++cut)
    if ((static_cast<unsigned char>(sheet_name[cut]) & 0xC0) != 0x80 && ++characters > 31) break;
  sheet_name.resize(cut);

  // Every cell is read before the workbook exists, so a file that does not
  // fit leaves the workspace as it was.
  struct Placed {
    int row, column;
    Value value;
  };
  std::vector<Placed> cells;
  const int row_limit = SheetRowLimit();
  const int column_limit = SheetColumnLimit();
  CsvReader reader(std::move(text));
  while (reader.Next()) {
    if (reader.row() > row_limit)
      throw HostError(file_name + ": more than " + std::to_string(row_limit) +
                      " rows, the sheet's limit");
    const std::vector<CsvField>& fields = reader.fields();
    if (fields.size() > static_cast<std::size_t>(column_limit))
      throw HostError(file_name + ": a record has more than " + std::to_string(column_limit) +
                      " fields");
    for (std::size_t c = 0; c < fields.size(); ++c)
      if (fields[c].kind != FieldKind::kBlank)
        cells.push_back({static_cast<int>(reader.row() - 1), static_cast<int>(c), CellValue(fields[c])});
  }

  SheetId id = NewWorkbook(book, sheet_name);
  Sheet& sheet = SheetOrThrow(id);
  for (Placed& cell : cells)
    sheet.cells.emplace_hint(sheet.cells.end(), Sheet::Key(cell.row, cell.column),
                             Cell{std::move(cell.value), nullptr});
  BookOf(sheet)->changed = false;
  return id;
}

}  // namespace

SheetId OpenCsvText(const std::string& file_name, std::string_view text) {
  return OpenCsv(file_name, std::string(text));
}

SheetId OpenCsvFile(const std::string& path) {
  SheetId id = OpenCsv(path, ReadInputFile(path));
  // Saved where it was read from, as a file Excel opened.
  std::error_code ec;
  if (Workbook* book = BookOf(SheetOrThrow(id))) {
    book->directory = std::filesystem::absolute(std::filesystem::path(path), ec).parent_path().string();
    book->changed = false;
  }
  return id;
}

}  // namespace standin
