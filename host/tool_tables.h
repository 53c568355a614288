// The steps every tool's hooks take over its own tables: registration rows,
// its Data-menu block, its dialog table and array, its remembered dialog
// answer. Each tool describes its tables once and its hooks walk them here.
#ifndef HVT_HOST_TOOL_TABLES_H
#define HVT_HOST_TOOL_TABLES_H

#include <cstddef>

#include "host/dialog_table.h"
#include "host/interface.h"
#include "host/menus.h"
#include "host/registration.h"
#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {

struct ToolTables {
  RegistrationRow* rows = nullptr;
  std::size_t rowCount = 0;
  MenuBlock* menu = nullptr;        // nullptr: no menu entry
  DialogRow* dialog = nullptr;      // nullptr: no dialog
  std::size_t dialogRows = 0;
  XLOPER* dialogArray = nullptr;    // the array record built from `dialog`
  XLOPER* remembered = nullptr;     // the last dialog answer, if kept
};

// Module load: length bytes of every text, the dialog array's shape.
void PrepareToolTables(ToolTables& tool);

// Open: register every row, then add the menu entry to the Data menu. The
// entry is added only when its macro is one of the tool's registered
// function texts, so a menu item never names a command that is not there.
// 1, or 0 when the menu array could not be had (the message has been shown).
int OpenToolTables(ToolTables& tool);

// Close: unregister, delete the names registration defined, remove the menu
// entry, release the dialog array and the remembered answer.
void CloseToolTables(ToolTables& tool);

// Register by name: the row whose procedure equals `name` ignoring case.
bool RegisterToolRow(ToolTables& tool, LPXLOPER name, LPXLOPER result);

// Whether the menu block's macro is the function text of one of the rows.
bool MenuMacroRegistered(const ToolTables& tool);

// The hooks of a tool whose only state beyond its tables is prepared by
// `PrepareState` at module load.
template <ToolTables& Tables, void (*PrepareState)()>
struct StandardHooks {
  static void Prepare() {
    PrepareToolTables(Tables);
    PrepareState();
  }
  static int Open() { return OpenToolTables(Tables); }
  static void Close() { CloseToolTables(Tables); }
  static bool Register(LPXLOPER name, LPXLOPER result) {
    return RegisterToolRow(Tables, name, result);
  }
  static constexpr ToolHooks For(const char* toolName) {
    return ToolHooks{toolName, Prepare, Open, Close, Register};
  }
};

// Releases a remembered dialog answer (the add-in's copy of one) and leaves
// the boolean mark for "nothing remembered".
void ForgetDialogAnswer(XLOPER& remembered);

enum class TakenAnswer { kArray, kNone, kNoMemory };

// Makes the host's answer to a dialog the remembered one in place of the
// old one. An array answer is copied, cells and texts, into one block of
// the add-in's own, and the host's goes back to it at once: the tools set
// focus items, clear fields and dim items in what they remember, and Excel
// frees an array by what its cells hold when it gets it back. Any other
// answer (FALSE: cancelled) leaves the boolean mark; a copy that found no
// memory leaves the remembered answer as it was.
// A 12-series answer's texts are kept in UTF-8.
template <HostRecord Oper>
TakenAnswer TakeDialogAnswer(Oper& hostAnswer, XLOPER& remembered);

// Shows a dialog array (a table's, or a remembered answer) and takes the
// answer as above. A host of version 12 or later is asked through Excel12,
// the array's texts (UTF-8) in UTF-16; an answer with a text longer than
// 255 bytes in UTF-8 is refused with a message and taken as kNone, what
// was remembered left as it was. `code` is the host's answer to the call;
// kNone when it failed.
TakenAnswer ShowDialog(XLOPER& shown, XLOPER& remembered, int& code);

}  // namespace hvt

#endif  // HVT_HOST_TOOL_TABLES_H
