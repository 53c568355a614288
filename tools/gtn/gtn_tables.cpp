// The GTN tool's tables: registration rows, its Data-menu entry, its dialog,
// and the hooks the shell calls.
#include <iterator>

#include "host/registration.h"
#include "host/tool_tables.h"
#include "tools/gtn/gtn.h"

namespace hvt::gtn {

DialogRow g_dialog[kDialogRows] = {
    {{" ", " ", " ", " 364", " 276", " GTN", " 2"}},
    {{" 5", " 25", " 12", " ", " ", " &Data Reference: ", " "}},
    {{" 10", " 25", " 27", " 292", " ", " ", " "}},
    {{" 5", " 25", " 51", " ", " ", " &Write to Column: ", " "}},
    {{" 10", " 25", " 66", " 292", " ", " ", " "}},
    {{" 5", " 25", " 90", " ", " ", " &Smoothness ( >=1 and <=50 ): ", " "}},
    {{" 7", " 25", " 105", " 160", " ", " ", " 10"}},
    {{" 1", " 76", " 241", " 88", " ", " &OK", " "}},
    {{" 2", " 195", " 241", " 88", " ", " &Cancel", " "}},
    {{" 14", " 25", " 138", " 96", " 85", " Span", " "}},
    {{" 13", " ", " ", " ", " ", "  &24", " 1"}},
    {{" 13", " ", " ", " ", " ", "  &48", " "}},
    {{" 13", " ", " ", " ", " ", "  &96", " "}},
    {{" 13", " ", " ", " ", " ", " &192", " "}},
    {{" 14", " 138", " 138", " 205", " 54", " Output", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 2"}},
    {{" 12", " ", " ", " ", " ", " Begin &Together", " "}},
    {{" 12", " ", " ", " ", " ", " Begin &Independently", " "}},
};
XLOPER g_dialogArray{};
XLOPER g_remembered{};

namespace {

RegistrationRow g_rows[] = {
    Registered<&GTNWrapper>(" GTNWrapper", " A", " GTN", " ", " 2", " HVT", " "),
    Registered<&GTN_func, &GTN_func12>(" GTN_func", " JRRJJJ", " GTN_Macro",
                                       " data_ref,output_ref,smoothness,span,firstrow",
                                       " 2", " HVT", " ", " GTN_func12", " JUUJJJ"),
    Registered<&GTNUP, &GTNUP12>(" GTNUP", " RRJJ", " GTN_Update",
                                 " Data_Ref, Smoothness, Span", " 1", " HVT", " ",
                                 " GTNUP12", " QUJJ"),
};

MenuBlock g_menu = {{
    {" -", " ", " ", " ", " "},
    {" GTN                            Alt,d,&h", " GTN", " ", " GTN", " "},
}};

ToolTables g_tables = {
    .rows = g_rows,
    .rowCount = std::size(g_rows),
    .menu = &g_menu,
    .dialog = g_dialog,
    .dialogRows = kDialogRows,
    .dialogArray = &g_dialogArray,
    .remembered = &g_remembered,
};

void PrepareState() {
  PrepareRef(g_command.data);
  PrepareRef(g_command.output);
  PrepareRef(g_command.data12);
  PrepareRef(g_command.output12);
}

}  // namespace

const ToolHooks kTool = StandardHooks<g_tables, PrepareState>::For("GTN");

}  // namespace hvt::gtn
