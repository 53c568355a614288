// The menu bars: the worksheet bar of the old hosts (1) and of version 5 on
// (10), each with the menus and commands Excel starts with, changed by
// ADD.COMMAND and DELETE.COMMAND and searched by GET.BAR. From version 12
// the bars are no longer drawn: what an add-in adds to bar 10 is shown on
// the ribbon's Add-ins tab under Menu Commands, and the add-in still reads
// and changes bar 10 as before.
#include <algorithm>
#include <cctype>

#include "standin/dispatch.h"
#include "standin/eval.h"

namespace standin {
namespace {

Menu MakeMenu(const std::string& name, std::vector<std::string> items) {
  Menu menu{name, {}};
  for (auto& text : items) menu.items.push_back(MenuEntry{text, "", "", ""});
  return menu;
}

// Texts compare without their accelerator marks and case.
std::string Plain(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '&') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<Menu>* Bar(int number) {
  InstallMenus();
  auto it = H().menus.bars.find(number);
  return it == H().menus.bars.end() ? nullptr : &it->second;
}

Menu* FindMenu(std::vector<Menu>& bar, const Value& which) {
  if (auto* d = std::get_if<double>(&which)) {
    int n = static_cast<int>(*d);
    if (n >= 1 && n <= static_cast<int>(bar.size())) return &bar[static_cast<std::size_t>(n - 1)];
    return nullptr;
  }
  if (auto* s = std::get_if<std::string>(&which))
    for (Menu& m : bar)
      if (Plain(m.name) == Plain(*s)) return &m;
  return nullptr;
}

// 0-based index of a command given by 1-based position or by text; -1 if none.
int FindCommand(const Menu& menu, const Value& which) {
  if (auto* d = std::get_if<double>(&which)) {
    int n = static_cast<int>(*d);
    return n >= 1 && n <= static_cast<int>(menu.items.size()) ? n - 1 : -1;
  }
  if (auto* s = std::get_if<std::string>(&which)) {
    std::string wanted = Plain(*s);
    for (std::size_t i = 0; i < menu.items.size(); ++i)
      if (menu.items[i].text != "-" && Plain(menu.items[i].text) == wanted)
        return static_cast<int>(i);
  }
  return -1;
}

// A menu or command argument: a number or a text.
Value Which(const Args& args, std::size_t k) {
  Value v = ScalarArg(args, k);
  if (std::holds_alternative<std::string>(v) || std::holds_alternative<double>(v)) return v;
  return Error{xlerrValue};
}

int DoGetBar(XLOPER& result, const Args& args) {
  if (args.empty()) {  // the active bar's number
    SetValue(result, static_cast<double>(MenuBar()));
    return xlretSuccess;
  }
  auto bar_number = NumberArg(args, 0);
  std::vector<Menu>* bar = bar_number ? Bar(static_cast<int>(*bar_number)) : nullptr;
  if (bar == nullptr) return Refuse("xlfGetBar", "no menu bar " + Describe(ScalarArg(args, 0)));
  Menu* menu = FindMenu(*bar, Which(args, 1));
  if (menu == nullptr) {
    SetValue(result, Error{xlerrNA});
    return xlretSuccess;
  }
  if (args.size() < 3) {  // position of the menu itself
    SetValue(result, static_cast<double>(menu - bar->data() + 1));
    return xlretSuccess;
  }
  int index = FindCommand(*menu, Which(args, 2));
  SetValue(result, index < 0 ? Value{Error{xlerrNA}} : Value{static_cast<double>(index + 1)});
  return xlretSuccess;
}

int DoAddCommand(XLOPER& result, const Args& args) {
  auto bar_number = NumberArg(args, 0);
  std::vector<Menu>* bar = bar_number ? Bar(static_cast<int>(*bar_number)) : nullptr;
  if (bar == nullptr) return Refuse("xlfAddCommand", "no menu bar " + Describe(ScalarArg(args, 0)));
  Menu* menu = FindMenu(*bar, Which(args, 1));
  if (menu == nullptr) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  Operand table = OperandOf(*args[2], CallingSheet());
  Array rows;
  if (auto* a = std::get_if<Array>(&table.v)) rows = *a;
  else if (auto* r = std::get_if<Ref>(&table.v)) rows = ReadRef(*r);
  else return Refuse("xlfAddCommand", "the command table must be an array or a reference");
  if (rows.columns < 2 && !(rows.columns == 1 && rows.rows >= 1))
    return Refuse("xlfAddCommand", "a command table has at least a text column");
  std::vector<MenuEntry> added;
  for (int r = 0; r < rows.rows; ++r) {
    auto text_at = [&](int c) -> std::string {
      if (c >= rows.columns) return "";
      Value v = ToText(rows.at(r, c));
      auto* s = std::get_if<std::string>(&v);
      return s ? *s : "";
    };
    MenuEntry entry{text_at(0), text_at(1), text_at(3), text_at(4)};
    if (entry.text.empty()) return Refuse("xlfAddCommand", "row " + std::to_string(r + 1) + " has no command text");
    if (entry.text != "-" && entry.macro.empty())
      return Refuse("xlfAddCommand", "command \"" + entry.text + "\" runs no macro");
    added.push_back(entry);
  }
  // Before a position or a named command when given, else at the end.
  std::size_t at = menu->items.size();
  if (Given(args, 3)) {
    int index = FindCommand(*menu, Which(args, 3));
    if (index < 0) {
      auto n = NumberArg(args, 3);
      if (!n || *n != static_cast<double>(menu->items.size() + 1)) {
        SetValue(result, Error{xlerrValue});
        return xlretSuccess;
      }
    } else {
      at = static_cast<std::size_t>(index);
    }
  }
  menu->items.insert(menu->items.begin() + static_cast<long>(at), added.begin(), added.end());
  SetValue(result, static_cast<double>(at + 1));  // position of the first command added
  return xlretSuccess;
}

int DoDeleteCommand(XLOPER& result, const Args& args) {
  auto bar_number = NumberArg(args, 0);
  std::vector<Menu>* bar = bar_number ? Bar(static_cast<int>(*bar_number)) : nullptr;
  if (bar == nullptr) return Refuse("xlfDeleteCommand", "no menu bar " + Describe(ScalarArg(args, 0)));
  Menu* menu = FindMenu(*bar, Which(args, 1));
  int index = menu ? FindCommand(*menu, Which(args, 2)) : -1;
  if (index < 0) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  menu->items.erase(menu->items.begin() + index);
  SetValue(result, true);
  return xlretSuccess;
}

constexpr Entry kMenuEntries[] = {
    {xlfGetBar, "xlfGetBar", 0, 3, DoGetBar, true},
    {xlfAddCommand, "xlfAddCommand", 3, 4, DoAddCommand, true},
    {xlfDeleteCommand, "xlfDeleteCommand", 3, 3, DoDeleteCommand, true},
};

}  // namespace

void InstallMenus() {
  MenuBars& menus = H().menus;
  if (!menus.bars.empty()) return;
  const std::vector<std::string> data_items = {
      "&Sort...", "&Filter", "F&orm...", "Su&btotals...", "Va&lidation...", "-",
      "&Table...", "T&ext to Columns...", "&Consolidate...", "&Group and Outline", "-",
      "&PivotTable Report...", "Get External &Data", "&Refresh Data"};
  const std::vector<std::string> help_items = {"Stand-in &Help", "&Contents and Index",
                                               "What's &This?", "-", "&About the Stand-in"};
  menus.bars[10] = {MakeMenu("&File", {"&New...", "&Open...", "&Close", "&Save", "Save &As...", "-", "E&xit"}),
                MakeMenu("&Edit", {"&Undo", "-", "Cu&t", "&Copy", "&Paste", "Cle&ar", "&Delete..."}),
                MakeMenu("&View", {"&Normal", "&Formula Bar", "&Status Bar"}),
                MakeMenu("&Insert", {"&Cells...", "&Rows", "&Columns", "&Worksheet"}),
                MakeMenu("F&ormat", {"C&ells...", "&Row", "&Column", "S&heet", "&Style..."}),
                MakeMenu("&Tools", {"&Spelling...", "&Protection", "Add-&Ins...", "&Options..."}),
                MakeMenu("&Data", data_items),
                MakeMenu("&Window", {"&New Window", "&Arrange...", "&Hide", "&Unhide..."}),
                MakeMenu("&Help", help_items)};
  menus.bars[1] = {MakeMenu("&File", {"&New...", "&Open...", "&Close", "&Save", "Save &As...", "-", "E&xit"}),
                   MakeMenu("&Edit", {"&Undo", "-", "Cu&t", "&Copy", "&Paste", "Cle&ar..."}),
                   MakeMenu("Fo&rmula", {"&Paste Name...", "Paste &Function...", "&Define Name..."}),
                   MakeMenu("F&ormat", {"&Number...", "&Alignment...", "&Font...", "&Column Width..."}),
                   MakeMenu("&Data", {"&Form...", "&Find", "&Extract...", "&Delete", "-", "&Sort...",
                                  "&Series...", "&Table...", "&Parse...", "C&onsolidate..."}),
                   MakeMenu("&Options", {"&Set Print Area", "&Protect Document...", "&Calculation...",
                                     "&Workspace..."}),
                   MakeMenu("&Macro", {"&Run...", "&Record...", "S&tart Recorder"}),
                   MakeMenu("&Window", {"&New Window", "&Arrange...", "&Hide", "&Unhide..."}),
                   MakeMenu("&Help", help_items)};
}

const Entry* MenuEntries(std::size_t& count) {
  count = std::size(kMenuEntries);
  return kMenuEntries;
}

std::vector<MenuItem> MenuItems(int bar, const std::string& menu) {
  std::vector<Menu>* b = Bar(bar);
  if (b == nullptr) throw HostError("no menu bar " + std::to_string(bar));
  Menu* m = FindMenu(*b, Value{menu});
  if (m == nullptr) throw HostError("no menu \"" + menu + "\" on bar " + std::to_string(bar));
  std::vector<MenuItem> out;
  for (const MenuEntry& e : m->items) out.push_back(MenuItem{e.text, e.macro, e.status});
  return out;
}

int MenuBar() { return MajorVersion() >= 5 ? 10 : 1; }

std::string MenuMacro(const std::string& menu, const std::string& item) {
  std::vector<Menu>* b = Bar(MenuBar());
  Menu* m = b ? FindMenu(*b, Value{menu}) : nullptr;
  if (m == nullptr) throw HostError("no menu \"" + menu + "\"");
  int index = FindCommand(*m, Value{item});
  if (index < 0) throw HostError("no item \"" + item + "\" on the " + Plain(menu) + " menu");
  const MenuEntry& entry = m->items[static_cast<std::size_t>(index)];
  if (entry.macro.empty()) throw HostError("\"" + item + "\" is one of the host's own commands");
  return entry.macro;
}

}  // namespace standin
