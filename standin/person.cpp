// The scripted person: answers dialog boxes, alerts and input boxes from a
// script, presses Esc after a chosen number of break-key polls, and writes
// a transcript of everything shown. A question nobody scripted is answered
// as Cancel and logged, so a test sees it.
#include <cstring>

#include "standin/dispatch.h"
#include "standin/eval.h"

namespace standin {
namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string CellText(const Value& v) {
  Value t = ToText(v);
  auto* s = std::get_if<std::string>(&t);
  return s ? *s : Describe(v);
}

// Item type code of a dialog row; -1 when it is none.
int ItemCode(const Value& v) {
  Value n = ToNumber(v);
  auto* d = std::get_if<double>(&n);
  if (d == nullptr || *d != static_cast<int>(*d)) return -1;
  int code = static_cast<int>(*d);
  int base = code % 100, mode = code / 100;
  if (code < 0 || mode > 3 || base < 1 || base > 24) return -1;
  return code;
}

bool IsTrigger(int code) { return (code / 100) % 2 == 1; }
bool IsDimmed(int code) { return code / 100 >= 2; }
int BaseCode(int code) { return code % 100; }
bool IsOk(int base) { return base == 1 || base == 3; }
bool IsCancel(int base) { return base == 2 || base == 4; }
bool TakesInput(int base) {
  return (base >= 6 && base <= 13 && base != 12) || base == 15 || base == 16 ||
         (base >= 18 && base <= 22);
}

// An item's result as Excel answers it: numbers for numeric boxes, groups
// and lists, 1 or 0 for a check box, text for edit and reference boxes.
Value ResultOf(int base, const Value& v) {
  if (std::holds_alternative<Blank>(v)) return v;
  switch (base) {
    case 7: case 8: case 11: case 15: case 16: case 21: {
      Value n = ToNumber(v);
      return std::holds_alternative<double>(n) ? n : v;
    }
    case 13: {
      Value n = ToNumber(v);  // "1" or 1 as the table writes it
      if (auto* d = std::get_if<double>(&n)) return *d != 0 ? 1.0 : 0.0;
      Value b = ToBoolean(v);
      if (auto* t = std::get_if<bool>(&b)) return *t ? 1.0 : 0.0;
      return v;
    }
    case 6: case 9: case 10: case 22:
      return ToText(v);
    default:
      return v;
  }
}


void Cancelled(XLOPER& result, DialogShowing& showing) {
  showing.cancelled = true;
  SetValue(result, false);
}

}  // namespace

void Say(const std::string& line) { H().person.transcript.push_back(line); }

void ShowHostAlert(const std::string& text) { Say("host alert " + Quote(text)); }

int ShowDialogBox(XLOPER& result, const XLOPER& definition) {
  Operand op = OperandOf(definition, CallingSheet());
  Array table;
  const Ref* on_sheet = std::get_if<Ref>(&op.v);
  if (auto* a = std::get_if<Array>(&op.v)) table = *a;
  else if (on_sheet && on_sheet->areas.size() == 1) table = ReadRef(*on_sheet);
  else return Refuse("xlfDialogBox", "the definition must be an array or a one-area reference");
  if (table.columns != 7) return Refuse("xlfDialogBox", "a dialog definition has 7 columns, not " + std::to_string(table.columns));
  if (!std::holds_alternative<Blank>(table.at(0, 0)))
    return Refuse("xlfDialogBox", "the box row has an item type");
  std::vector<int> codes(static_cast<std::size_t>(table.rows), 0);
  for (int r = 1; r < table.rows; ++r) {
    codes[static_cast<std::size_t>(r)] = ItemCode(table.at(r, 0));
    if (codes[static_cast<std::size_t>(r)] < 0)
      return Refuse("xlfDialogBox", "item " + std::to_string(r) + " has no valid type code (" +
                                        Describe(table.at(r, 0)) + ")");
  }

  Person& person = H().person;
  DialogShowing showing;
  showing.title = CellText(table.at(0, 5));
  showing.definition = GridOf(table);
  std::string texts;
  for (int r = 1; r < table.rows; ++r)
    if (BaseCode(codes[static_cast<std::size_t>(r)]) == 5) {
      std::string t = CellText(table.at(r, 5));
      if (!t.empty()) texts += (texts.empty() ? ": " : " | ") + t;
    }
  std::string line = "dialog " + Quote(showing.title) + texts + " -> ";

  auto finish = [&](const std::string& how) {
    Say(line + how);
    person.showings.push_back(showing);
  };
  if (person.next_dialog >= person.dialogs.size()) {
    LogLine("xlfDialogBox: " + Quote(showing.title) + " shown with no scripted answer; Cancel");
    Cancelled(result, showing);
    finish("Cancel (unscripted)");
    return xlretSuccess;
  }
  DialogReply reply = person.dialogs[person.next_dialog++];
  if (reply.cancel) {
    Cancelled(result, showing);
    finish("Cancel");
    return xlretSuccess;
  }

  Array answer = table;
  for (int r = 1; r < table.rows; ++r)
    answer.cells[static_cast<std::size_t>(r) * 7 + 6] =
        ResultOf(BaseCode(codes[static_cast<std::size_t>(r)]), table.at(r, 6));
  std::string settings;
  for (const auto& [item, value] : reply.set) {
    if (item < 1 || item >= table.rows) {
      LogLine("xlfDialogBox: the script sets item " + std::to_string(item) + ", which " +
              Quote(showing.title) + " does not have");
      continue;
    }
    int code = codes[static_cast<std::size_t>(item)];
    if (!TakesInput(BaseCode(code)) || IsDimmed(code)) {
      LogLine("xlfDialogBox: item " + std::to_string(item) + " of " + Quote(showing.title) +
              " cannot be set (type " + std::to_string(code) + ")");
      continue;
    }
    answer.cells[static_cast<std::size_t>(item) * 7 + 6] = ResultOf(BaseCode(code), value);
    settings += " " + std::to_string(item) + "=" + Describe(value);
  }
  if (!settings.empty()) line += "set" + settings + ", ";

  int pressed = reply.press;
  if (pressed == 0) {
    for (int r = 1; r < table.rows && pressed == 0; ++r)
      if (BaseCode(codes[static_cast<std::size_t>(r)]) == 1) pressed = r;
    for (int r = 1; r < table.rows && pressed == 0; ++r)
      if (BaseCode(codes[static_cast<std::size_t>(r)]) == 3) pressed = r;
  }
  int code = pressed >= 1 && pressed < table.rows ? codes[static_cast<std::size_t>(pressed)] : -1;
  if (code < 0 || IsDimmed(code) ||
      !(IsOk(BaseCode(code)) || IsCancel(BaseCode(code)) || IsTrigger(code))) {
    LogLine("xlfDialogBox: item " + std::to_string(pressed) + " of " + Quote(showing.title) +
            " is no button or trigger; Cancel");
    Cancelled(result, showing);
    finish("Cancel (no such button)");
    return xlretSuccess;
  }
  std::string label = CellText(table.at(pressed, 5));
  if (IsCancel(BaseCode(code))) {
    Cancelled(result, showing);
    finish("Cancel " + Quote(label));
    return xlretSuccess;
  }
  answer.cells[6] = static_cast<double>(pressed);
  showing.closed_by = pressed;
  showing.answer = GridOf(answer);
  if (on_sheet) {
    // A table on a sheet takes the answers in its own result column; the
    // call answers the number of the button chosen.
    Sheet& sheet = SheetOrThrow(on_sheet->sheet);
    const Area& area = on_sheet->areas[0];
    for (int r = 1; r < table.rows; ++r)
      PutValue(sheet, area.first_row + r, area.first_col + 6, answer.at(r, 6));
    SetValue(result, static_cast<double>(pressed));
  } else {
    SetArray(result, answer);
  }
  finish("item " + std::to_string(pressed) + (label.empty() ? "" : " " + Quote(label)));
  return xlretSuccess;
}

bool AskAlert(const std::string& text, int type) {
  std::string line = "alert " + std::to_string(type) + " " + Quote(text) + " -> ";
  if (type != 1) {  // only a question has a Cancel button
    Say(line + "OK");
    return true;
  }
  Person& person = H().person;
  if (person.next_alert >= person.alerts.size()) {
    LogLine("xlcAlert: " + Quote(text) + " asked with no scripted answer; Cancel");
    Say(line + "Cancel (unscripted)");
    return false;
  }
  bool ok = person.alerts[person.next_alert++];
  Say(line + (ok ? "OK" : "Cancel"));
  return ok;
}

namespace {

int DoAlert(XLOPER& result, const Args& args) {
  std::string text = TextArg(args, 0);
  int type = 2;
  if (auto n = NumberArg(args, 1)) type = static_cast<int>(*n);
  if (type < 1 || type > 3) return Refuse("xlcAlert", "alert type " + std::to_string(type));
  SetValue(result, AskAlert(text, type));
  return xlretSuccess;
}

int DoDialogBox(XLOPER& result, const Args& args) { return ShowDialogBox(result, *args[0]); }

int DoInput(XLOPER& result, const Args& args) {
  std::string message = TextArg(args, 0);
  int type = 2;
  if (auto n = NumberArg(args, 1)) type = static_cast<int>(*n);
  std::string line = "input " + Quote(message) + " -> ";
  Person& person = H().person;
  if (person.next_input >= person.inputs.size()) {
    LogLine("xlfInput: " + Quote(message) + " asked with no scripted answer; Cancel");
    Say(line + "Cancel (unscripted)");
    SetValue(result, false);
    return xlretSuccess;
  }
  std::optional<Value> typed = person.inputs[person.next_input++];
  if (!typed) {
    Say(line + "Cancel");
    SetValue(result, false);
    return xlretSuccess;
  }
  Say(line + Describe(*typed));
  if (type & 8) {  // a reference typed as text
    if (auto ref = RefFromText(CellText(*typed), !H().app.r1c1)) {
      SetRef(result, *ref);
      return xlretSuccess;
    }
  }
  if (type & 1) {
    Value n = ToNumber(*typed);
    if (std::holds_alternative<double>(n)) {
      SetValue(result, n);
      return xlretSuccess;
    }
  }
  if (type & 4) {
    Value b = ToBoolean(*typed);
    if (std::holds_alternative<bool>(b)) {
      SetValue(result, b);
      return xlretSuccess;
    }
  }
  if (type & (2 | 16 | 64) || type == 0) {
    SetValue(result, ToText(*typed));
    return xlretSuccess;
  }
  LogLine("xlfInput: " + Describe(*typed) + " is not of type " + std::to_string(type) + "; Cancel");
  SetValue(result, false);
  return xlretSuccess;
}

int DoAbort(XLOPER& result, const Args& args) {
  Person& person = H().person;
  bool clear = Given(args, 0) && !BoolArg(args, 0, true);
  if (!clear && person.break_countdown > 0 && --person.break_countdown == 0) {
    person.break_pending = true;
    Say("Esc pressed");
  }
  SetValue(result, person.break_pending);
  if (clear) person.break_pending = false;
  return xlretSuccess;
}

int DoMessage(XLOPER& result, const Args& args) {
  Application& app = H().app;
  if (BoolArg(args, 0, false)) {
    app.status_text = TextArg(args, 1);
    Say("status " + Quote(app.status_text));
  } else {
    app.status_text.clear();
    Say("status cleared");
  }
  SetValue(result, true);
  return xlretSuccess;
}

int DoBeep(XLOPER& result, const Args&) {
  Say("beep");
  SetValue(result, true);
  return xlretSuccess;
}

constexpr Entry kPersonEntries[] = {
    {xlcAlert, "xlcAlert", 1, 3, DoAlert},
    {xlfDialogBox, "xlfDialogBox", 1, 1, DoDialogBox},
    {xlfInput, "xlfInput", 1, 7, DoInput},
    {xlAbort, "xlAbort", 0, 1, DoAbort},
    {xlcMessage, "xlcMessage", 1, 2, DoMessage},
    {xlcBeep, "xlcBeep", 0, 1, DoBeep},
};

}  // namespace

const Entry* PersonEntries(std::size_t& count) {
  count = std::size(kPersonEntries);
  return kPersonEntries;
}

void QueueDialog(const DialogReply& reply) { H().person.dialogs.push_back(reply); }
void QueueAlert(bool ok) { H().person.alerts.push_back(ok); }
void QueueInput(const std::optional<Value>& typed) { H().person.inputs.push_back(typed); }
void PressEscAfter(int polls) {
  if (polls < 1) throw HostError("Esc needs at least one poll to be seen");
  H().person.break_countdown = polls;
}
bool BreakPending() { return H().person.break_pending; }
int UnusedAnswers() {
  const Person& p = H().person;
  return static_cast<int>((p.dialogs.size() - p.next_dialog) + (p.alerts.size() - p.next_alert) +
                          (p.inputs.size() - p.next_input));
}
std::vector<DialogShowing> Showings() { return H().person.showings; }
std::vector<std::string> Transcript() { return H().person.transcript; }
void ClearTranscript() {
  H().person.transcript.clear();
  H().person.showings.clear();
}
std::string StatusText() { return H().app.status_text; }

}  // namespace standin
