// The KLX tool's tables: its dialog, registration rows, its Data-menu
// entry, and the hooks the shell calls.
#include <iterator>

#include "host/registration.h"
#include "host/tool_tables.h"
#include "tools/klx/klx.h"

namespace hvt::klx {

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

XLOPER g_dialogArray{};
XLOPER g_lastAnswer{};

namespace {

RegistrationRow g_rows[] = {
    Registered<&KLXWrapper>(" KLXWrapper", " J", " KLXWrapper", " ", " 2", " HVT", " "),
    Registered<&HalPQEX, &HalPQEX12>(" HalPQEX", " JRRE", " PQE_2_Macro",
                                     " data_ref,output_ref,smoothness", " 2", " HVT", " ",
                                     " HalPQEX12", " JUUE"),
    Registered<&KLX, &KLX12>(" KLX", " JRREE", " KLX_Macro",
                             " data_ref,output_ref,smoothness,phase", " 2", " HVT", " ",
                             " KLX12", " JUUEE"),
    Registered<&KLXUP, &KLXUP12>(" KLXUP", " RREE", " KLX_Update",
                                 " data_ref, smoothness, phase", " 1", " HVT", " ",
                                 " KLXUP12", " QUEE"),
};

// Added to the Data menu once the command it runs is among the rows above.
MenuBlock g_menu = {{
    {" -", " ", " ", " ", " "},
    {" KLX                            Alt,d,&j", " KLXWrapper", " ",
     " Halvo Moving Average", " "},
}};

ToolTables g_tables = {
    .rows = g_rows,
    .rowCount = std::size(g_rows),
    .menu = &g_menu,
    .dialog = g_dialog,
    .dialogRows = kDialogRowCount,
    .dialogArray = &g_dialogArray,
    .remembered = &g_lastAnswer,
};

void PrepareState() {
  PrepareRef(g_inputRef);
  PrepareRef(g_outputRef);
  PrepareRef(g_inputRef12);
  PrepareRef(g_outputRef12);
}

}  // namespace

const ToolHooks kTool = StandardHooks<g_tables, PrepareState>::For("KLX");

}  // namespace hvt::klx
