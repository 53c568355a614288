// Menu blocks: two rows of five counted strings per menu entry (a "-"
// separator row, then item text, macro, -, status-bar text, -), added to and
// removed from one of the host's menus on the worksheet menu bar.
#ifndef HVT_HOST_MENUS_H
#define HVT_HOST_MENUS_H

#include <cstddef>

#include "sdk/xlcall.h"

namespace hvt {

constexpr std::size_t kMenuRows = 2;
constexpr std::size_t kMenuColumns = 5;
constexpr std::size_t kMenuTextSize = 64;

// Texts are written with a placeholder first byte that PrepareMenuBlock
// turns into the length.
struct MenuBlock {
  char text[kMenuRows][kMenuColumns][kMenuTextSize];
};

enum MenuColumn {
  kMenuItemText = 0,
  kMenuMacro = 1,
  kMenuStatusText = 3,
};

void PrepareMenuBlock(MenuBlock& block);

// The item text (second row, first column) and the macro it runs.
inline char* MenuItemText(MenuBlock& block) { return block.text[1][kMenuItemText]; }
inline char* MenuMacro(MenuBlock& block) { return block.text[1][kMenuMacro]; }

// Fills ten string cells, the empty texts included, from the block.
void FillMenuCells(MenuBlock& block, XLOPER* cells);

// Adds the block to `menu` (a writable counted string such as " Data")
// unless the item is already there. 1 when the item is there afterwards or
// the host could not be asked; 0 when the array could not be had
// ("Insufficient memory!" has been shown).
int AddMenuBlock(MenuBlock& block, char* menu);

// Removes the item and the separator above it from `menu`, if it is there.
void RemoveMenuBlock(MenuBlock& block, char* menu);

}  // namespace hvt

#endif  // HVT_HOST_MENUS_H
