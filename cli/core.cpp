// hvt core NAME [options] [FILE]: one computation core run directly on the
// numeric columns of a CSV file, printing what the core computes and nothing
// more, so results can be checked against other tools.
#include <algorithm>
#include <charconv>
#include <limits>
#include <iostream>
#include <memory>
#include <vector>

#include "cli/verbs.h"
#include "standin/csv_reader.h"
#include "tools/blk/blk_settings.h"
#include "tools/decor/core/decor.h"
#include "tools/gtn/gtn_settings.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/klx/klx_settings.h"
#include "tools/spd/spd_settings.h"

namespace hvt::cli {
namespace {

struct CoreOptions {
  std::string file = "-";
  double smoothness = 10;  // KLX and PQE
  double phase = 0;
  int gtnSmoothness = 10;
  int span = 24;
  std::string order = "worksheet";
  int depth = 10;
  int index = 6;
  int method = 1;
  int norm = 1;
};

// A failure that ends the verb with a message and a status.
struct Failure {
  std::string message;
  int status = kUsage;
};

constexpr std::size_t kEveryColumn = std::numeric_limits<std::size_t>::max();

// The numeric columns of a CSV file, read as a spreadsheet opens it: all of
// them, or only the first `most`. Empty rows before the first row of numbers
// and after the last are no part of it, nor are empty fields after a row's last value.
// The first row is headers when it holds anything but numbers and empty
// fields; every other field up to the widest row must be a number.
struct Table {
  std::vector<std::vector<double>> columns;
};

std::string Quoted(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out = "\"";
  for (char c : text.substr(0, kShown)) {
    if (c == '\n' || c == '\r') out += ' ';
    else out += c;
  }
  if (text.size() > kShown) out += "...";
  return out + "\"";
}

Failure NotANumber(long row, std::size_t column, const standin::CsvField* field) {
  std::string where = "row " + std::to_string(row) + ", column " + std::to_string(column + 1);
  if (field == nullptr || field->kind == standin::FieldKind::kBlank)
    return Failure{where + " is empty, not a number"};
  return Failure{where + ": " + Quoted(field->text) + " is not a number"};
}

Table ReadTable(const std::string& file, std::size_t most) {
  standin::CsvReader reader(standin::ReadInputFile(file));
  Table table;
  std::size_t data_rows = 0;
  long first_data_row = 0;
  long empty_row = 0;  // the first empty row since the last row of numbers
  bool first = true;
  while (reader.Next()) {
    const std::vector<standin::CsvField>& fields = reader.fields();
    std::size_t used = std::min(fields.size(), most);
    while (used > 0 && fields[used - 1].kind == standin::FieldKind::kBlank) --used;
    if (used == 0) {
      if (data_rows > 0 && empty_row == 0) empty_row = reader.row();
      continue;
    }
    if (first) {
      first = false;
      bool text = false;
      for (std::size_t c = 0; c < used; ++c)
        text = text || (fields[c].kind != standin::FieldKind::kNumber &&
                         fields[c].kind != standin::FieldKind::kBlank);
      if (text) continue;  // headers
    }
    if (empty_row != 0) throw NotANumber(empty_row, 0, nullptr);
    if (data_rows == 0) first_data_row = reader.row();
    if (used > table.columns.size()) {
      if (data_rows > 0) throw NotANumber(first_data_row, table.columns.size(), nullptr);
      table.columns.resize(used);
    }
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const standin::CsvField* field = c < used ? &fields[c] : nullptr;
      if (field == nullptr || field->kind != standin::FieldKind::kNumber)
        throw NotANumber(reader.row(), c, field);
      table.columns[c].push_back(field->number);
    }
    ++data_rows;
  }
  if (data_rows == 0) {
    throw Failure{"no numbers in " + (file == "-" ? std::string("standard input") : file)};
  }
  return table;
}

std::string Number(double value) {
  char text[32];
  auto r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

void PrintColumn(std::span<const double> values) {
  std::string out;
  for (double v : values) {
    out += Number(v);
    out += '\n';
  }
  std::cout << out;
}

// Rows x cols, row-major.
void PrintMatrix(std::span<const double> values, std::size_t rows, std::size_t cols) {
  std::string out;
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < cols; ++c) {
      if (c) out += ',';
      out += Number(values[r * cols + c]);
    }
    out += '\n';
  }
  std::cout << out;
}

const std::vector<double>& FirstColumn(const Table& table) {
  return table.columns.front();
}

// Settings are checked before the file is read, as for a file of any length.
constexpr long kAnyRows = std::numeric_limits<long>::max();

// A setting the add-in refuses ends the verb with the add-in's message.
void Refuse(const char* refusal) {
  if (refusal != nullptr) throw Failure{refusal};
}

int RunKlx(const CoreOptions& o) {
  Refuse(klx::SettingsRefusal(o.smoothness, o.phase));
  const Table table = ReadTable(o.file, 1);
  const std::vector<double>& x = FirstColumn(table);
  std::vector<double> y(x.size());
  klx::KlxFilter(x, o.smoothness, o.phase, y);
  PrintColumn(y);
  return kOk;
}

int RunPqe(const CoreOptions& o) {
  Refuse(klx::SmoothnessAccepted(o.smoothness) ? nullptr : klx::kSmoothnessRange);
  const Table table = ReadTable(o.file, 1);
  const std::vector<double>& x = FirstColumn(table);
  std::vector<double> y(x.size());
  klx::PqeFilter(x, o.smoothness, y);
  PrintColumn(y);
  return kOk;
}

int RunGtn(const CoreOptions& o) {
  if (o.order != "command" && o.order != "worksheet") {
    throw Failure{"--order must be command or worksheet"};
  }
  Refuse(gtn::SettingsRefusal(kAnyRows, o.gtnSmoothness, o.span));
  const Table table = ReadTable(o.file, 1);
  const std::vector<double>& x = FirstColumn(table);
  Refuse(gtn::SettingsRefusal(static_cast<long>(x.size()), o.gtnSmoothness, o.span));
  std::vector<double> y(x.size());
  gtn::GtnStatus status = gtn::GtnSeries(
      x, o.span, o.gtnSmoothness,
      o.order == "command" ? gtn::GtnTermOrder::CommandOrder
                           : gtn::GtnTermOrder::WorksheetOrder,
      y);
  switch (status) {
    case gtn::GtnStatus::Complete:
      PrintColumn(std::span<const double>(y).subspan(gtn::GtnFirstOutputRow(o.span)));
      return kOk;
    case gtn::GtnStatus::TooShort:
      throw Failure{"GTN needs at least " + std::to_string(gtn::GtnMinRows(o.span)) +
                    " rows for span " + std::to_string(o.span)};
    case gtn::GtnStatus::OutOfMemory:
      throw Failure{"insufficient memory", kErrorResult};
    default:
      throw Failure{"--span must be 24, 48, 96 or 192 and --smoothness 2..50"};
  }
}

int RunSpd(const CoreOptions& o) {
  Refuse(spd::SettingsRefusal(kAnyRows, o.depth));
  const Table table = ReadTable(o.file, 1);
  const std::vector<double>& x = FirstColumn(table);
  Refuse(spd::SettingsRefusal(static_cast<long>(x.size()), o.depth));
  std::vector<double> out(x.size());
  switch (spd::SpdSeries(x, o.depth, out)) {
    case spd::SpdStatus::Complete:
      PrintColumn(out);
      return kOk;
    case spd::SpdStatus::TooShort:
      throw Failure{"SPD needs at least " + std::to_string(spd::SpdMinRows(o.depth)) +
                    " rows for depth " + std::to_string(o.depth)};
    case spd::SpdStatus::OutOfMemory:
      throw Failure{"insufficient memory", kErrorResult};
    default:
      throw Failure{"--depth must lie between 2 and 500"};
  }
}

int RunBlk(const CoreOptions& o) {
  Refuse(blk::BlkSettingsRefusal(o.method, o.norm, o.index));
  Table table = ReadTable(o.file, kEveryColumn);
  std::vector<std::span<const double>> data(table.columns.begin(), table.columns.end());
  blk::BlkResult result = blk::BlkCompute(data, o.index, o.method, o.norm);
  if (result.status != blk::BlkStatus::kOk) {
    throw Failure{std::string("BLK: ") + blk::BlkStatusText(result.status)};
  }
  std::string out;
  for (std::size_t c = 0; c < result.columns.size(); ++c) {
    if (c) out += ',';
    out += result.columns[c].layout.suffix;
  }
  out += '\n';
  std::size_t rows = result.rows - static_cast<std::size_t>(result.blank_rows);
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < result.columns.size(); ++c) {
      if (c) out += ',';
      out += Number(result.columns[c].values[r]);
    }
    out += '\n';
  }
  std::cout << out;
  return kOk;
}

int RunDecor(const CoreOptions& o) {
  Table table = ReadTable(o.file, kEveryColumn);
  std::size_t cols = table.columns.size();
  std::size_t rows = table.columns[0].size();
  std::vector<double> data;
  data.reserve(rows * cols);
  for (const auto& column : table.columns) data.insert(data.end(), column.begin(), column.end());
  decor::DecorResult r = decor::Decorrelate(data, rows, cols, decor::Layout::kColumnMajor);
  switch (r.status) {
    case decor::Status::kDone:
      break;
    case decor::Status::kNotConverged:
      throw Failure{"the decomposition did not converge (singular value " +
                        std::to_string(r.failIndex) + ")",
                    kErrorResult};
    case decor::Status::kNoVariation:
      throw Failure{"the columns do not vary: nothing to decorrelate", kErrorResult};
    case decor::Status::kOutOfMemory:
      throw Failure{"insufficient memory", kErrorResult};
    default:
      throw Failure{"the data cannot be decorrelated", kErrorResult};
  }
  std::cout << "#scores\n";
  PrintMatrix(r.scores, rows, cols);
  std::cout << "#significance\n";
  PrintMatrix(r.significance, 1, cols);
  std::cout << "#coefficients\n";
  PrintMatrix(r.coefficients, cols, cols);
  std::cout << "#means\n";
  PrintMatrix(r.means, 1, cols);
  std::cout << "#sigmas\n";
  PrintMatrix(r.sigmas, 1, cols);
  return kOk;
}

}  // namespace

Verb AddCore(CLI::App& app) {
  auto options = std::make_shared<CoreOptions>();
  CLI::App* core = app.add_subcommand(
      "core", "Run one computation core on the numeric columns of a CSV file");
  core->require_subcommand(1);
  core->footer(
      "A first row holding any text is taken as headers. klx, pqe, gtn and spd "
      "read the first column; blk and decor read every column.");
  std::vector<std::pair<CLI::App*, std::function<int()>>> runs;
  auto add = [&](const char* name, const char* help, auto run) {
    CLI::App* sub = core->add_subcommand(name, help);
    sub->add_option("FILE", options->file, "CSV file ('-' or none: standard input)");
    runs.emplace_back(sub, [options, run] { return run(*options); });
    return sub;
  };
  CLI::App* klx = add("klx", "KLX filter: every output row", RunKlx);
  klx->add_option("--smoothness", options->smoothness, "smoothness S")->capture_default_str();
  klx->add_option("--phase", options->phase, "phase P")->capture_default_str();
  CLI::App* pqe = add("pqe", "PQE filter: rows 0..29 the input, then filtered", RunPqe);
  pqe->add_option("--smoothness", options->smoothness, "smoothness")->capture_default_str();
  CLI::App* gtn = add("gtn", "GTN series: rows span+6 .. n-1", RunGtn);
  gtn->add_option("--span", options->span, "24, 48, 96 or 192")->capture_default_str();
  gtn->add_option("--smoothness", options->gtnSmoothness, "2..50")->capture_default_str();
  gtn->add_option("--order", options->order, "term order: command or worksheet")->capture_default_str();
  CLI::App* spd = add("spd", "SPD rate of change: every row", RunSpd);
  spd->add_option("--depth", options->depth, "2..500")->capture_default_str();
  CLI::App* blk = add("blk", "BLK block columns: rows U..N-1 under their title suffixes", RunBlk);
  blk->add_option("--index", options->index, "sample-table index 1..18")->capture_default_str();
  blk->add_option("--method", options->method,
                  "1 standard, 2 standard and detrended, 3 detrended only")->capture_default_str();
  blk->add_option("--norm", options->norm, "1 normalized, 2 not normalized")->capture_default_str();
  add("decor", "Decorrelator: scores x 1,000, significance, coefficients, means, sigmas",
      RunDecor);

  auto dispatch = [runs] {
    try {
      for (const auto& [sub, run] : runs) {
        if (sub->parsed()) return run();
      }
      Complain("core: no core named (try hvt core --help)");
      return int{kUsage};
    } catch (const Failure& failure) {
      Complain("core: " + failure.message);
      return failure.status;
    } catch (const std::exception& failure) {
      return Failed(failure, "core: ");
    }
  };
  return Verb{core, dispatch};
}

}  // namespace hvt::cli
