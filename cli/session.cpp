// hvt session SCRIPT: a person's steps read from a text file and played
// against the headless host: files opened, the add-in opened, cells
// selected, menu items chosen, dialogs, alerts and input boxes answered,
// Esc pressed, sheets saved, and what the person saw printed.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "cli/verbs.h"
#include "standin/csv_reader.h"
#include "standin/standin.h"

#ifndef HVT_DEFAULT_ADDIN
#define HVT_DEFAULT_ADDIN "HVT_XL32.xll"
#endif

namespace hvt::cli {
namespace {

struct SessionOptions {
  std::string script = "-";
  std::string addin;
  std::string host_version = "8.0";
};

// A script line that cannot be played.
struct StepError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Words of a line; "double quotes" keep spaces, "" inside is one quote.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string word;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
      if (line[i] == '"') {
        ++i;
        while (i < line.size() && !(line[i] == '"' && (i + 1 >= line.size() || line[i + 1] != '"'))) {
          if (line[i] == '"') ++i;
          word += line[i++];
        }
        if (i >= line.size()) throw StepError("unterminated quote");
        ++i;
      } else {
        word += line[i++];
      }
    }
    words.push_back(word);
  }
  return words;
}

// A typed value: a number, TRUE or FALSE, else text.
standin::Value Typed(const std::string& text) {
  if (text.empty()) return standin::Blank{};
  char* end = nullptr;
  double d = std::strtod(text.c_str(), &end);
  if (end != text.c_str() && *end == '\0' && text.find_first_of("xXpP") == std::string::npos) return d;
  if (text == "TRUE" || text == "true") return true;
  if (text == "FALSE" || text == "false") return false;
  return text;
}

std::string Joined(const std::vector<std::string>& w, std::size_t from, const char* gap = " ") {
  std::string out;
  for (std::size_t i = from; i < w.size(); ++i) out += (i > from ? gap : "") + w[i];
  return out;
}

// "[Book]Sheet!A1:B2", "Sheet!A1" or "A1:B2" (the active sheet).
std::pair<standin::SheetId, std::string> Place(const std::string& text) {
  std::size_t bang = text.rfind('!');
  if (bang == std::string::npos) {
    if (standin::ActiveSheet() == 0) throw StepError("no sheet is open");
    return {standin::ActiveSheet(), text};
  }
  std::string sheet = text.substr(0, bang), book;
  if (!sheet.empty() && sheet.front() == '[') {
    std::size_t close = sheet.find(']');
    if (close == std::string::npos) throw StepError("bad sheet name " + sheet);
    book = sheet.substr(1, close - 1);
    sheet = sheet.substr(close + 1);
  } else {
    book = standin::BookName(standin::ActiveSheet());
  }
  standin::SheetId id = standin::FindSheet(book, sheet);
  if (id == 0) throw StepError("no sheet [" + book + "]" + sheet);
  return {id, text.substr(bang + 1)};
}

class Player {
 public:
  explicit Player(SessionOptions o) : o_(std::move(o)) {}

  void Step(const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    auto need = [&](std::size_t n) {
      if (w.size() < n) throw StepError("\"" + verb + "\" needs more words");
    };
    if (verb == "version") {
      need(2);
      standin::SetHostVersion(w[1]);
    } else if (verb == "workbooks") {
      need(2);
      standin::SetWorkbooks(w[1] == "on");
    } else if (verb == "open") {
      need(2);
      standin::OpenCsvFile(w[1]);
    } else if (verb == "book") {
      need(3);
      standin::NewWorkbook(w[1], w[2]);
      for (std::size_t i = 3; i < w.size(); ++i) standin::AddSheet(w[1], w[i]);
    } else if (verb == "protect") {
      need(3);
      if (w[1] == "workbook") standin::ProtectWorkbook(w[2], true);
      else if (w[1] == "sheet") standin::ProtectSheet(Place(w[2] + "!A1").first, true);
      else throw StepError("protect workbook BOOK or protect sheet [BOOK]SHEET");
    } else if (verb == "group") {
      std::vector<standin::SheetId> sheets;
      for (std::size_t i = 1; i < w.size(); ++i) sheets.push_back(Place(w[i] + "!A1").first);
      standin::SetGroup(sheets);
    } else if (verb == "calculation") {
      need(2);
      standin::SetCalculationMode(w[1] == "manual" ? 3 : w[1] == "automatic" ? 1 : std::stoi(w[1]));
    } else if (verb == "addin") {
      std::string path = w.size() > 1 ? w[1] : !o_.addin.empty() ? o_.addin
                                                                : ProgramDirectory() + "/" + HVT_DEFAULT_ADDIN;
      int opened = standin::LoadAddIn(path);
      if (opened != 1) std::cout << "add-in open answered " << opened << '\n';
    } else if (verb == "close") {
      need(2);
      if (w[1] != "addin") throw StepError("close addin");
      standin::CloseAddIn();
    } else if (verb == "activate") {
      need(2);
      standin::Activate(Place(w[1] + "!A1").first);
    } else if (verb == "select") {
      need(2);
      auto [sheet, range] = Place(w[1]);
      standin::Select(sheet, range, w.size() > 2 ? w[2] : "");
    } else if (verb == "object") {
      standin::SelectObject(Joined(w, 1));
    } else if (verb == "set") {
      need(3);
      auto [sheet, cell] = Place(w[1]);
      if (w[2].size() > 1 && w[2][0] == '=') standin::EnterFormula(sheet, cell, Joined(w, 2));
      else standin::SetCell(sheet, cell, Typed(Joined(w, 2)));
    } else if (verb == "answer") {
      need(3);
      Answer(w);
    } else if (verb == "esc") {
      need(3);
      if (w[1] != "after") throw StepError("esc after N");
      standin::PressEscAfter(std::stoi(w[2]));
    } else if (verb == "menu") {
      // menu Data > KLX ...: the words after ">" are the item's text.
      std::size_t arrow = std::find(w.begin(), w.end(), ">") - w.begin();
      if (arrow < 2 || arrow + 1 >= w.size()) throw StepError("menu MENU > ITEM");
      std::string menu = Joined(w, 1).substr(0, Joined(w, 1).find(" >"));
      double answer = standin::ChooseMenuItem(menu, Joined(w, arrow + 1));
      if (answer != 1) std::cout << "command answered " << standin::Describe(answer) << '\n';
    } else if (verb == "run") {
      need(2);
      standin::RunCommand(w[1]);
    } else if (verb == "recalculate") {
      standin::Recalculate();
    } else if (verb == "save") {
      need(3);
      standin::SaveCsv(Place(w[1] + "!A1").first, w[2]);
    } else if (verb == "print") {
      need(2);
      Print(w);
    } else {
      throw StepError("unknown step \"" + verb + "\"");
    }
  }

  // New transcript lines since the last print.
  void PrintTranscript() {
    std::vector<std::string> lines = standin::Transcript();
    for (std::size_t i = printed_; i < lines.size(); ++i) std::cout << lines[i] << '\n';
    printed_ = lines.size();
  }

 private:
  void Answer(const std::vector<std::string>& w) {
    if (w[1] == "alert") {
      if (w[2] != "ok" && w[2] != "cancel") throw StepError("answer alert ok|cancel");
      standin::QueueAlert(w[2] == "ok");
    } else if (w[1] == "input") {
      if (w[2] == "cancel") standin::QueueInput(std::nullopt);
      else standin::QueueInput(Typed(Joined(w, 2)));
    } else if (w[1] == "dialog") {
      standin::DialogReply reply;
      for (std::size_t i = 2; i < w.size(); ++i) {
        if (w[i] == "ok") continue;
        if (w[i] == "cancel") {
          reply.cancel = true;
        } else if (w[i] == "press" && i + 1 < w.size()) {
          reply.press = std::stoi(w[++i]);
        } else if (w[i] == "set" && i + 1 < w.size()) {
          const std::string& pair = w[++i];
          std::size_t eq = pair.find('=');
          if (eq == std::string::npos) throw StepError("set ITEM=VALUE");
          reply.set.emplace_back(std::stoi(pair.substr(0, eq)), Typed(pair.substr(eq + 1)));
        } else {
          throw StepError("answer dialog [set N=VALUE]... [press N|ok|cancel]");
        }
      }
      standin::QueueDialog(reply);
    } else {
      throw StepError("answer dialog|alert|input ...");
    }
  }

  void Print(const std::vector<std::string>& w) {
    if (w[1] == "transcript") {
      PrintTranscript();
    } else if (w[1] == "sheet") {
      std::cout << standin::CsvText(w.size() > 2 ? Place(w[2] + "!A1").first : standin::ActiveSheet());
    } else if (w[1] == "menu") {
      need_menu(w);
    } else if (w[1] == "selection") {
      std::cout << standin::Selection() << '\n';
    } else if (w[1] == "active") {
      std::cout << standin::ActiveCell() << '\n';
    } else if (w[1] == "books") {
      for (const std::string& b : standin::Workbooks()) {
        std::cout << b << ':';
        for (const std::string& s : standin::Sheets(b))
          std::cout << ' ' << s << (standin::SheetHidden(standin::FindSheet(b, s)) ? " (hidden)" : "");
        std::cout << '\n';
      }
    } else if (w[1] == "state") {
      std::cout << "calculation " << standin::CalculationMode() << ", status bar "
                << (standin::StatusBarShown() ? "on" : "off") << ", macro errors "
                << (standin::MacroErrorsHandled() ? "on" : "off") << '\n';
    } else {
      throw StepError("print transcript|sheet|menu|selection|active|books|state");
    }
  }

  void need_menu(const std::vector<std::string>& w) {
    if (w.size() < 3) throw StepError("print menu MENU");
    for (const standin::MenuItem& item : standin::MenuItems(standin::MenuBar(), Joined(w, 2)))
      std::cout << item.text << (item.macro.empty() ? "" : " -> " + item.macro) << '\n';
  }

  SessionOptions o_;
  std::size_t printed_ = 0;
};

int RunSession(const SessionOptions& o) {
  std::string text;
  try {
    text = standin::ReadInputFile(o.script);
  } catch (const std::exception& e) {
    return Failed(e);
  }
  standin::ResetQuietly();
  try {
    standin::SetHostVersion(o.host_version);
  } catch (const std::exception& e) {
    Complain(e.what());
    return kUsage;
  }
  Player player(o);
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  int status = kOk;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    try {
      std::vector<std::string> words = Words(line);
      if (words.empty()) continue;
      player.Step(words);
    } catch (const std::exception& e) {
      status = Failed(e, o.script + ":" + std::to_string(number) + ": ");
      break;
    }
  }
  try {
    standin::CloseAddIn();
  } catch (const std::exception& e) {
    Complain(e.what());
    status = kUsage;
  }
  // Values the module kept or gave back twice, memory it kept after it was
  // closed: each fails the session.
  standin::Accounting accounting = standin::GetAccounting();
  if (!accounting.Clean()) {
    for (const std::string& p : accounting.problems) Complain("host accounting: " + p);
    if (accounting.problems.empty()) Complain("host accounting: values or memory left unbalanced");
    if (status == kOk) status = kErrorResult;
  }
  // What went wrong on the host's side fails the session.
  for (const std::string& l : standin::Log()) {
    Complain("host: " + l);
    if (status == kOk) status = kErrorResult;
  }
  if (int unused = standin::UnusedAnswers(); unused > 0 && status == kOk) {
    Complain(std::to_string(unused) + " scripted answer(s) never asked for");
    status = kErrorResult;
  }
  return status;
}

}  // namespace

Verb AddSession(CLI::App& app) {
  auto options = std::make_shared<SessionOptions>();
  CLI::App* cmd = app.add_subcommand(
      "session",
      "Play a person's steps from SCRIPT ('-' or none: standard input) against the headless "
      "host and print what was asked to be printed. See docs/session.md. Exit 0 ok, 1 the host "
      "refused a call or a scripted answer was left over, 2 a bad step.");
  cmd->add_option("script", options->script, "session script; '-' or omitted reads standard input");
  cmd->add_option("--addin", options->addin,
                  std::string("add-in module for 'addin' steps without a path (default: ") +
                      HVT_DEFAULT_ADDIN + " next to hvt)");
  cmd->add_option("--host-version", options->host_version,
                  "the host's version until a 'version' step changes it: 4.0 ... 16.0 "
                  "(default: 8.0)");
  return Verb{cmd, [options] { return RunSession(*options); }};
}

}  // namespace hvt::cli
