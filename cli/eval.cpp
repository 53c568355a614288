// hvt eval FORMULA [FILE]: a CSV as the active sheet, the add-in loaded, the
// formula evaluated as an array formula and its result printed as CSV.
#include <unistd.h>

#include <charconv>
#include <iostream>
#include <memory>

#include "cli/verbs.h"
#include "standin/csv_reader.h"
#include "standin/standin.h"

#ifndef HVT_DEFAULT_ADDIN
#define HVT_DEFAULT_ADDIN "HVT_XL32.xll"
#endif

namespace hvt::cli {
namespace {

struct EvalOptions {
  std::string formula;
  std::string file = "-";
  std::string addin;
  std::string name = "stdin.csv";
  std::string host_version = "8.0";
  bool show_log = false;
};

std::string Field(const standin::Value& value) {
  if (auto* d = std::get_if<double>(&value)) {
    char text[32];
    auto r = std::to_chars(text, text + sizeof text, *d);
    return std::string(text, r.ptr);
  }
  if (auto* s = std::get_if<std::string>(&value)) {
    if (s->find_first_of(",\"\r\n") == std::string::npos) return *s;
    std::string quoted = "\"";
    for (char c : *s) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    return quoted + "\"";
  }
  return standin::Describe(value);  // blank, booleans, error values
}

std::string Explain(int code) {
  switch (code) {
    case xlerrValue: return "an argument has the wrong type or is out of range";
    case xlerrRef: return "a reference is not valid for this function";
    case xlerrNA: return "a value is not available (missing argument or no memory)";
    case xlerrNum: return "a number is out of range";
    case xlerrDiv0: return "division by zero";
    case xlerrName: return "unknown function or name";
    case xlerrNull: return "the ranges do not intersect";
    default: return "error value";
  }
}

int RunEval(const EvalOptions& o) {
  standin::ResetQuietly();
  try {
    standin::SetHostVersion(o.host_version);
    if (o.file == "-") {
      standin::OpenCsvText(o.name, standin::ReadInputFile("-"));
    } else {
      standin::OpenCsvFile(o.file);
    }
    bool explicit_addin = !o.addin.empty();
    std::string addin = explicit_addin ? o.addin : ProgramDirectory() + "/" + HVT_DEFAULT_ADDIN;
    // Without an add-in next to it, hvt still evaluates built-in formulas.
    if (explicit_addin || access(addin.c_str(), R_OK) == 0) standin::LoadAddIn(addin);

    standin::Evaluation e = standin::Evaluate(o.formula);
    if (o.show_log)
      for (const std::string& line : standin::Log()) Complain(line);
    standin::CloseAddIn();

    if (e.no_value) {
      Complain("the formula returned no value");
      return kNoValue;
    }
    const standin::Grid& g = e.result;
    std::string out;
    for (int r = 0; r < g.rows; ++r) {
      for (int c = 0; c < g.columns; ++c) {
        if (c) out += ',';
        out += Field(g.at(r, c));
      }
      out += '\n';
    }
    std::cout << out << std::flush;
    if (g.rows == 1 && g.columns == 1)
      if (auto* err = std::get_if<standin::Error>(&g.cells[0])) {
        Complain(standin::ErrorText(err->code) + ": " + Explain(err->code));
        return kErrorResult;
      }
    return kOk;
  } catch (const std::exception& failure) {
    return Failed(failure);
  }
}

}  // namespace

Verb AddEval(CLI::App& app) {
  auto options = std::make_shared<EvalOptions>();
  CLI::App* cmd = app.add_subcommand(
      "eval",
      "Evaluate FORMULA as an array formula on the sheet read from FILE (CSV; '-' or none: "
      "standard input) and print the result as CSV. Exit 0 ok, 1 error value, 2 bad usage "
      "or input, 3 no value.");
  cmd->add_option("formula", options->formula, "formula, e.g. =KLX_Update(A2:A5001,10,0)")
      ->required();
  cmd->add_option("file", options->file, "CSV file; '-' or omitted reads standard input");
  cmd->add_option("--addin", options->addin,
                  std::string("add-in module to load (default: ") + HVT_DEFAULT_ADDIN +
                      " next to hvt)");
  cmd->add_option("--name", options->name,
                  "workbook name for standard input (default: stdin.csv)");
  cmd->add_option("--host-version", options->host_version,
                  "the host's version, 4.0 ... 16.0 (default: 8.0); from 12.0 the sheet has "
                  "1,048,576 rows and the add-in answers through the 12-series interface");
  cmd->add_flag("--log", options->show_log, "print the host's log of refused calls to stderr");
  return Verb{cmd, [options] { return RunEval(*options); }};
}

}  // namespace hvt::cli
