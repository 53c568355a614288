// hvt core NAME [options] [FILE]: one computation core run directly on the
// numeric columns of a CSV file, printing what the core computes and nothing
// more, so results can be checked against other tools.
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "cli/verbs.h"
#include "tools/blk/core/blk_block.h"
#include "tools/decor/core/decor.h"
#include "tools/gtn/core/gtn.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/spd/core/spd.h"

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

// Numeric columns of a CSV text. A first row with any non-numeric field is
// taken as headers; every later field must be a number.
struct Table {
  std::vector<std::string> headers;
  std::vector<std::vector<double>> columns;
};

std::vector<std::string> SplitRecord(std::istream& in, bool& more) {
  std::vector<std::string> fields(1);
  bool quoted = false, any = false;
  char c;
  while (in.get(c)) {
    any = true;
    if (quoted) {
      if (c == '"') {
        if (in.peek() == '"') {
          in.get(c);
          fields.back() += '"';
        } else {
          quoted = false;
        }
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c == '\n') {
      more = true;
      return fields;
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  more = false;
  if (!any) fields.clear();
  return fields;
}

bool ParseNumber(const std::string& text, double& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && *begin == ' ') ++begin;
  while (end > begin && end[-1] == ' ') --end;
  if (begin < end && *begin == '+') ++begin;
  auto [ptr, ec] = std::from_chars(begin, end, value);
  return ec == std::errc() && ptr == end && begin != end;
}

Table ReadTable(const std::string& file) {
  std::ifstream stream;
  std::istream* in = &std::cin;
  if (file != "-") {
    stream.open(file, std::ios::binary);
    if (!stream) throw Failure{"cannot read " + file};
    in = &stream;
  }
  Table table;
  bool more = true;
  long line = 0;
  while (more) {
    std::vector<std::string> fields = SplitRecord(*in, more);
    ++line;
    if (fields.empty() || (fields.size() == 1 && fields[0].empty())) continue;
    std::vector<double> row(fields.size());
    bool numeric = true;
    for (std::size_t c = 0; c < fields.size(); ++c) {
      numeric = numeric && ParseNumber(fields[c], row[c]);
    }
    if (table.columns.empty() && table.headers.empty() && !numeric) {
      table.headers = fields;
      table.columns.resize(fields.size());
      continue;
    }
    if (table.columns.empty()) table.columns.resize(fields.size());
    if (fields.size() != table.columns.size()) {
      throw Failure{"line " + std::to_string(line) + " has " +
                    std::to_string(fields.size()) + " fields, expected " +
                    std::to_string(table.columns.size())};
    }
    if (!numeric) {
      throw Failure{"line " + std::to_string(line) + " holds a field that is not a number"};
    }
    for (std::size_t c = 0; c < row.size(); ++c) table.columns[c].push_back(row[c]);
  }
  if (table.columns.empty() || table.columns[0].empty()) {
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

int RunKlx(const CoreOptions& o) {
  const Table table = ReadTable(o.file);
  const std::vector<double>& x = FirstColumn(table);
  std::vector<double> y(x.size());
  klx::KlxFilter(x, o.smoothness, o.phase, y);
  PrintColumn(y);
  return kOk;
}

int RunPqe(const CoreOptions& o) {
  const Table table = ReadTable(o.file);
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
  const Table table = ReadTable(o.file);
  const std::vector<double>& x = FirstColumn(table);
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
  const Table table = ReadTable(o.file);
  const std::vector<double>& x = FirstColumn(table);
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
  Table table = ReadTable(o.file);
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
  Table table = ReadTable(o.file);
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
    } catch (const std::bad_alloc&) {
      Complain("core: insufficient memory");
      return int{kErrorResult};
    }
  };
  return Verb{core, dispatch};
}

}  // namespace hvt::cli
