// The fixed frame around every menu command: what is tested, switched off
// and saved at its start and put back at its end, and the handling of open
// single-sheet workbooks for the time of the command.
#ifndef HVT_HOST_COMMAND_FRAME_H
#define HVT_HOST_COMMAND_FRAME_H

#include "host/references.h"
#include "sdk/xlcall.h"

namespace hvt {

// Saved by BeginCommand for the rest of the command.
extern RefRecord g_savedSelection;   // the selection's first area
extern RefRecord12 g_savedSelection12;  // the same on a host of version 12+
extern WORD g_savedAreaCount;        // how many areas the selection has
extern bool g_selectionSaved;        // this command saved a selection
extern double g_savedCalculation;    // 1 automatic, 2 except tables, 3 manual
extern bool g_calculationSaved;
extern short g_statusBarFlag;        // this command turned the status bar on

// Checks the active sheet, saves selection and calculation mode, turns the
// status bar on, switches to manual calculation and macro errors off. 1 to
// go on, 0 when refused (the message has been shown).
int BeginCommand();

// Goes to the saved selection, every area of it, and its active cell, when
// this command saved one.
void GoToSavedSelection();
// The saved selection with all its areas.
const XLOPER& SavedSelectionAreas();

// A tool's parts of the frame. The steps answer 1 to go on.
struct CommandSteps {
  char* abortMessage;        // counted string in a writable buffer
  int (*dialogs)();          // dialogs and checks; 1 when they ended with OK
  int (*compute)();          // the macro; 1 on success
  void (*selectOutput)();    // on success: select the output's first cell
};

// Runs the whole frame around a tool's steps. Always 1, the command's
// answer to the host.
int RunCommandFrame(const CommandSteps& steps);

// The names of the workbooks that got a hidden "tempblank" sheet: string
// values in zeroed global memory, each pointing at its own copy of the
// name, ended by an all-zero value.
struct DocumentList {
  XLOPER* names = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
};

// Adds a copy of a workbook name (a counted string), growing the list by 10
// names at a time. False when memory ran out; the list is then as before.
bool AppendDocument(DocumentList& list, const char* name);

enum class PrepareOutcome { kNothing, kList, kAborted };

// Gives every open single-sheet workbook named like its sheet a hidden
// "tempblank" sheet for the time of the command; a protected one is left
// alone or ends the command, as the user chooses.
PrepareOutcome PrepareProtectedSheets(DocumentList& list);

// Removes the "tempblank" sheets again and releases the list.
void RestoreProtectedSheets(DocumentList& list);

// Releases each name copy and the list.
void FreeDocumentList(DocumentList& list);

}  // namespace hvt

#endif  // HVT_HOST_COMMAND_FRAME_H
