// The SPD tool's tables: registration rows, its Data-menu entry, its dialog,
// and the hooks the shell calls.
#include <iterator>

#include "host/registration.h"
#include "host/tool_tables.h"
#include "tools/spd/spd.h"

namespace hvt::spd {

DialogRow g_dialog[kDialogRows] = {
    {{" ", " ", " ", " 320", " 154", " Spd", " 2"}},
    {{" 5", " 10", " 12", " ", " ", " &Data Reference: ", " "}},
    {{" 10", " 10", " 27", " 292", " ", " ", " "}},
    {{" 5", " 10", " 51", " ", " ", " &Write to Column: ", " "}},
    {{" 10", " 10", " 66", " 292", " ", " ", " "}},
    {{" 5", " 10", " 90", " ", " ", " De&pth ( >1 ): ", " "}},
    {{" 7", " 10", " 105", " 160", " ", " ", " 10"}},
    {{" 1", " 207", " 94", " 88", " ", " &OK", " "}},
    {{" 2", " 207", " 121", " 88", " ", " &Cancel", " "}},
};
XLOPER g_dialogArray{};
XLOPER g_remembered{};

namespace {

RegistrationRow g_rows[] = {
    Registered<&SpdWrapper>(" SpdWrapper", " J", " SpdWrapper", " ", " 2", " HVT", " "),
    Registered<&Spd, &Spd12>(" Spd", " JRRJ", " Spd_Macro", " Data Ref, Output Ref, Depth",
                             " 2", " HVT", " ", " Spd12", " JUUJ"),
    Registered<&SPDUP, &SPDUP12>(" SPDUP", " RRJ", " Spd_Update", " Data Ref, Depth", " 1",
                                 " HVT", " ", " SPDUP12", " QUJ"),
};

MenuBlock g_menu = {{
    {" -", " ", " ", " ", " "},
    {" SPD                            Alt,d,&y", " SpdWrapper", " ",
     " Spd Indicator", " "},
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

const ToolHooks kTool = StandardHooks<g_tables, PrepareState>::For("SPD");

}  // namespace hvt::spd
