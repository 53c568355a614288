// The application around the workbooks: its version and settings, where the
// user is (the active sheet, the selection), and what the status bar shows.
// Internal to the library.
#ifndef HVT_STANDIN_APPLICATION_H
#define HVT_STANDIN_APPLICATION_H

#include <string>
#include <vector>

#include "standin/model.h"
#include "standin/standin.h"

namespace standin {

struct Application {
  std::string version = "8.0";
  bool workbooks = true;        // false: every sheet is a document of its own
  int calculation = 1;          // 1 automatic, 2 except tables, 3 manual
  int calculations = 0;         // recalculations run by commands
  bool status_bar = true;
  std::string status_text;      // what the status bar shows; empty: Excel's own
  bool echo = true;
  bool error_handling = true;
  bool r1c1 = false;            // workspace reference style
  std::string directory;        // current directory

  SheetId active = 0;
  Ref selection;
  int active_row = 0, active_col = 0;
  std::vector<SheetId> group;   // sheets edited as a group (two or more)
  std::string selected_object;  // a drawing object selected instead of cells
};

int MajorVersion();     // the whole integer part of the version text: 4 to 16
int CurrentRowLimit();  // rows the caller being answered can address
// The sheet itself: 16,384 or 65,536 rows by 256 columns, 1,048,576 by
// 16,384 from version 12.
int SheetRowLimit();
int SheetColumnLimit();
// "[Book]Sheet", or the document name alone on a host without workbooks.
std::string FullSheetName(const Sheet& sheet);

}  // namespace standin

#endif  // HVT_STANDIN_APPLICATION_H
