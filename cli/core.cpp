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
#include "tools/cores.h"

namespace hvt::cli {
namespace {

struct CoreOptions {
  std::string file = "-";
  CoreSettings settings;
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

// The answer as `hvt core` prints it: the column titles when the core names
// them, then each block, under "#heading" when it has one.
void PrintAnswer(const CoreAnswer& answer) {
  if (!answer.titles.empty()) {
    std::string out;
    for (std::size_t c = 0; c < answer.titles.size(); ++c) {
      if (c) out += ',';
      out += answer.titles[c];
    }
    std::cout << out << '\n';
  }
  for (const CoreBlock& block : answer.blocks) {
    if (!block.heading.empty()) std::cout << '#' << block.heading << '\n';
    PrintMatrix(block.values, block.rows(), block.columns);
  }
}

// A setting the add-in refuses ends the verb with the add-in's message.
void Refuse(const char* refusal) {
  if (refusal != nullptr) throw Failure{refusal};
}

int RunCore(const CoreEntry& core, const CoreOptions& o) {
  // Settings are checked before the file is read, as for a file of any
  // length, then against its rows.
  Refuse(core.refusal(o.settings, kAnyRows));
  const Table table = ReadTable(o.file, core.everyColumn ? kEveryColumn : 1);
  Refuse(core.refusal(o.settings, static_cast<long>(table.columns[0].size())));
  const std::vector<std::span<const double>> columns(table.columns.begin(), table.columns.end());
  CoreAnswer answer;
  const CoreRun run = core.run(o.settings, columns, answer, nullptr);
  if (run.status != CoreStatus::kComplete) {
    const bool usage = run.status == CoreStatus::kTooShort || run.status == CoreStatus::kBadArgument;
    throw Failure{run.why, usage ? kUsage : kErrorResult};
  }
  PrintAnswer(answer);
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
  for (const CoreEntry& entry : Cores()) {
    CLI::App* sub = core->add_subcommand(std::string(entry.name), entry.help);
    sub->add_option("FILE", options->file, "CSV file ('-' or none: standard input)");
    for (const CoreOption& option : entry.options) {
      CoreSettings& settings = options->settings;
      CLI::Option* added =
          option.number != nullptr ? sub->add_option(option.flag, settings.*option.number, option.help)
          : option.whole != nullptr ? sub->add_option(option.flag, settings.*option.whole, option.help)
                                    : sub->add_option(option.flag, settings.*option.text, option.help);
      added->capture_default_str();
    }
    runs.emplace_back(sub, [options, &entry] { return RunCore(entry, *options); });
  }

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
