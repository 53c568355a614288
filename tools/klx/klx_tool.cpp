// The KLX tool's tables and the hooks the shell calls.
#include "tools/klx/klx_tool.h"

#include <iterator>

#include "host/tool_tables.h"

namespace hvt {

namespace {

RegistrationRow g_klxRows[] = {
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
};

void PrepareKlx() { PrepareToolTables(g_klxTables); }
int OpenKlx() { return OpenToolTables(g_klxTables); }
void CloseKlx() { CloseToolTables(g_klxTables); }
bool RegisterKlx(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_klxTables, name, result);
}

}  // namespace

const ToolHooks kKlxTool = {"KLX", PrepareKlx, OpenKlx, CloseKlx, RegisterKlx};

}  // namespace hvt
