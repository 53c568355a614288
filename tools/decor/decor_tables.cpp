// The decorrelator's tables: registration rows, its Data-menu entry, its
// dialog, and the hooks the shell calls.
#include <iterator>

#include "host/messages.h"
#include "host/registration.h"
#include "host/tool_tables.h"
#include "tools/decor/decor.h"

namespace hvt::decor {

RefRecord g_input;
RefRecord g_output;
RefRecord g_coefArea;
RefRecord12 g_input12;
RefRecord12 g_output12;
RefRecord12 g_coefArea12;
bool g_dialogChecked = false;
bool g_wantFile = false;

template <>
DecorRecords<XLOPER> Records<XLOPER>() {
  return {g_input, g_output, g_coefArea};
}
template <>
DecorRecords<XLOPER12> Records<XLOPER12>() {
  return {g_input12, g_output12, g_coefArea12};
}

namespace {

RegistrationRow g_rows[] = {
    Registered<&DecWrapper>(" DecWrapper", " J", " Decorel", " ", " 2", " HVT", " "),
    Registered<&Decor, &Decor12>(" Decor", " JRRA", " DecMacro",
                                 " DataRef, OutputRef, UpdateBool", " 2", " HVT", " ",
                                 " Decor12", " JUUA"),
    Registered<&UpdateUCX, &UpdateUCX12>(" UpdateUCX", " RRR", " UpdateUCX",
                                         " CoeffRef, DataRef", " 1", " HVT", " ",
                                         " UpdateUCX12", " QUU"),
};

MenuBlock g_menu = {{
    {" -", " ", " ", " ", " "},
    {" UCX 2                        Alt,d,&l", " Decorel", " ", " Decorrelate Data",
     " "},
}};

}  // namespace

DialogRow g_dialog[kDialogRows] = {
    {{" ", " ", " ", " 320", " 230", " Decorrelation", " 2"}},
    {{" 5", " 15", " 12", " ", " ", " &Data Reference:", " "}},
    {{" 10", " 15", " 27", " 289", " ", " ", " "}},
    {{" 5", " 15", " 52", " ", " ", " U&pper Left Output Cell:", " "}},
    {{" 10", " 15", " 66", " 289", " ", " ", " "}},
    {{" 14", " 49", " 98", " 224", " 58", " Automatic Update Formula", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 1"}},
    {{" 12", " ", " ", " ", " ", " &Yes, Create Formulas", " "}},
    {{" 12", " ", " ", " ", " ", " &No Formulas", " "}},
    {{" 13", " 66", " 166", " ", " ", " Create Coefficient &File", " "}},
    {{" 2", " 181", " 193", " 88", " ", " &Cancel", " "}},
    {{" 1", " 49", " 193", " 88", " ", " &OK", " "}},
};

XLOPER g_dialogArray{};
XLOPER g_answer{};

namespace {

ToolTables g_tables = {
    .rows = g_rows,
    .rowCount = std::size(g_rows),
    .menu = &g_menu,
    .dialog = g_dialog,
    .dialogRows = std::size(g_dialog),
    .dialogArray = &g_dialogArray,
    .remembered = &g_answer,
};


void PrepareDecor() {
  PrepareToolTables(g_tables);
  PrepareRef(g_input);
  PrepareRef(g_output);
  PrepareRef(g_coefArea);
  PrepareRef(g_input12);
  PrepareRef(g_output12);
  PrepareRef(g_coefArea12);
  g_answer.xltype = xltypeBool;
  g_answer.val.xbool = 0;
}

int OpenDecor() {
  int opened = OpenToolTables(g_tables);
  if (!BuildDialogArray(g_dialog, std::size(g_dialog), g_dialogArray)) {
    ShowInsufficientMemory();
    return 0;
  }
  return opened;
}

void CloseDecor() { CloseToolTables(g_tables); }

bool RegisterDecor(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_tables, name, result);
}

}  // namespace

const ToolHooks kTool = {"decorrelator", PrepareDecor, OpenDecor, CloseDecor,
                         RegisterDecor};

}  // namespace hvt::decor
