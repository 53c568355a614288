// The menu bars: Excel's own, and the commands the add-in adds to them.
// Internal to the library.
#ifndef HVT_STANDIN_MENUS_H
#define HVT_STANDIN_MENUS_H

#include <map>
#include <string>
#include <vector>

namespace standin {

// One command of a menu; text "-" is a separator.
struct MenuEntry {
  std::string text, macro, status, help;
};
struct Menu {
  std::string name;
  std::vector<MenuEntry> items;
};

struct MenuBars {
  std::map<int, std::vector<Menu>> bars;  // by bar number
};

void InstallMenus();  // the menu bars Excel starts with (menus.cpp)

}  // namespace standin

#endif  // HVT_STANDIN_MENUS_H
