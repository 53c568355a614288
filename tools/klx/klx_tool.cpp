// The KLX tool's tables and the hooks the shell calls.
#include "tools/klx/klx_tool.h"

#include <iterator>

#include "host/tool_tables.h"
#include "tools/klx/klx_command.h"

namespace hvt {

namespace klx {

DialogRow g_dialog[kDialogRowCount] = {
    {{" ", " ", " ", " 320", " 226", " Adaptive MA", " 2"}},
    {{" 5", " 15", " 12", " ", " ", " &Data Reference: ", " "}},
    {{" 10", " 15", " 27", " 292", " ", " ", " "}},
    {{" 5", " 15", " 51", " ", " ", " &Write to Column: ", " "}},
    {{" 10", " ", " 66", " 292", " ", " ", " "}},
    {{" 5", " 15", " 90", " ", " ", " &Smoothness ( >=0 )", " "}},
    {{" 8", " 15", " 104", " 177", " ", " ", " 10"}},
    {{" 14", " 212", " 104", " 92", " 51", " MA Type", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 1"}},
    {{" 112", " ", " ", " ", " ", " &KLX", " "}},
    {{" 112", " ", " ", " ", " ", " &PQE", " "}},
    // Leading zeros: the command dims these two by turning 0 into 2 in place.
    {{" 005", " 15", " 130", " ", " ", " &Phase (-100... +100)", " "}},
    {{" 008", " 15", " 145", " 177", " ", " ", " 0"}},
    {{" 1", " 47", " 183", " 88", " ", " &OK", " "}},
    {{" 2", " 181", " 183", " 88", " ", " &Cancel", " "}},
};

XLOPER g_dialogArray;
XLOPER g_lastAnswer;

}  // namespace klx

namespace {

RegistrationRow g_klxRows[] = {
    {{" KLXWrapper", " J", " KLXWrapper", " ", " 2", " HVT", " "}},
    {{" HalPQEX", " JRRE", " PQE_2_Macro", " data_ref,output_ref,smoothness",
      " 2", " HVT", " "}},
    {{" KLX", " JRREE", " KLX_Macro", " data_ref,output_ref,smoothness,phase",
      " 2", " HVT", " "}},
    {{" KLXUP", " RREE", " KLX_Update", " data_ref, smoothness, phase", " 1",
      " HVT", " "}},
};

// Added to the Data menu once the command it runs is among the rows above.
MenuBlock g_klxMenu = {{
    {" -", " ", " ", " ", " "},
    {" KLX                            Alt,d,&j", " KLXWrapper", " ",
     " Halvo Moving Average", " "},
}};

ToolTables g_klxTables = {
    .rows = g_klxRows,
    .rowCount = std::size(g_klxRows),
    .menu = &g_klxMenu,
    .dialog = klx::g_dialog,
    .dialogRows = klx::kDialogRowCount,
    .dialogArray = &klx::g_dialogArray,
    .remembered = &klx::g_lastAnswer,
};

void PrepareKlx() {
  PrepareToolTables(g_klxTables);
  klx::PrepareCommandState();
}
int OpenKlx() { return OpenToolTables(g_klxTables); }
void CloseKlx() { CloseToolTables(g_klxTables); }
bool RegisterKlx(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_klxTables, name, result);
}

}  // namespace

const ToolHooks kKlxTool = {"KLX", PrepareKlx, OpenKlx, CloseKlx, RegisterKlx};

}  // namespace hvt
