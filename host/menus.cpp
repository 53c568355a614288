#include "host/menus.h"

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"

namespace hvt {

namespace {

// The menu calls take the international flag.
constexpr int kGetBar = int{xlfGetBar} | int{xlIntl};
constexpr int kAddCommand = int{xlfAddCommand} | int{xlIntl};
constexpr int kDeleteCommand = int{xlfDeleteCommand} | int{xlIntl};

// Asks the host where the block's item stands in `menu`. False when the
// host gave no answer; otherwise `answer` holds it and must be released.
bool FindItem(MenuBlock& block, char* menu, XLOPER& answer) {
  return CallExcel(kGetBar, &answer, 3, TempNumber(g_menuBar), TempString(menu),
                   TempString(MenuItemText(block))) == xlretSuccess;
}

}  // namespace

void PrepareMenuBlock(MenuBlock& block) {
  for (auto& row : block.text) {
    for (auto& text : row) SetCountedLength(text);
  }
}

void FillMenuCells(MenuBlock& block, XLOPER* cells) {
  for (std::size_t r = 0; r < kMenuRows; ++r) {
    for (std::size_t c = 0; c < kMenuColumns; ++c) {
      XLOPER& cell = cells[r * kMenuColumns + c];
      cell.xltype = xltypeStr;
      cell.val.str = block.text[r][c];
    }
  }
}

int AddMenuBlock(MenuBlock& block, char* menu) {
  XLOPER found{};
  if (!FindItem(block, menu, found)) return 1;
  bool present = BaseType(found) != xltypeErr;
  ReleaseHostValue(found);
  if (present) return 1;

  auto* cells = static_cast<XLOPER*>(
      AllocGlobal(kMenuRows * kMenuColumns * sizeof(XLOPER)));
  if (cells == nullptr) {
    ShowInsufficientMemory();
    return 0;
  }
  FillMenuCells(block, cells);
  XLOPER array{};
  array.xltype = xltypeMulti;
  array.val.array.lparray = cells;
  array.val.array.rows = kMenuRows;
  array.val.array.columns = kMenuColumns;
  XLOPER added{};
  if (CallExcel(kAddCommand, &added, 3, TempNumber(g_menuBar), TempString(menu),
                &array) == xlretSuccess) {
    ReleaseHostValue(added);
  }
  FreeGlobal(cells);
  return 1;
}

void RemoveMenuBlock(MenuBlock& block, char* menu) {
  XLOPER found{};
  if (!FindItem(block, menu, found)) return;
  double position = 0;
  switch (BaseType(found)) {
    case xltypeNum: position = found.val.num; break;
    case xltypeInt: position = found.val.w; break;
    default: break;
  }
  ReleaseHostValue(found);
  if (position < 1) return;  // not there (an error value) or no position

  XLOPER ignored{};
  // The separator added above the item; an item first in its menu has none.
  if (position > 1 &&
      CallExcel(kDeleteCommand, &ignored, 3, TempNumber(g_menuBar),
                TempString(menu), TempNumber(position - 1)) == xlretSuccess) {
    ReleaseHostValue(ignored);
  }
  if (CallExcel(kDeleteCommand, &ignored, 3, TempNumber(g_menuBar),
                TempString(menu), TempString(MenuItemText(block))) ==
      xlretSuccess) {
    ReleaseHostValue(ignored);
  }
}

}  // namespace hvt
