// The GTN tool's tables and the hooks the shell calls.
#include "tools/gtn/gtn_tool.h"

#include <iterator>

#include "host/tool_tables.h"

namespace hvt {

namespace {

RegistrationRow g_gtnRows[] = {
    {{" GTNUP", " RRJJ", " GTN_Update", " Data_Ref, Smoothness, Span", " 1",
      " HVT", " "}},
};

// Added to the Data menu once the command it runs is among the rows above.
MenuBlock g_gtnMenu = {{
    {" -", " ", " ", " ", " "},
    {" GTN                            Alt,d,&h", " GTN", " ", " GTN", " "},
}};

ToolTables g_gtnTables = {
    .rows = g_gtnRows,
    .rowCount = std::size(g_gtnRows),
    .menu = &g_gtnMenu,
};

void PrepareGtn() { PrepareToolTables(g_gtnTables); }
int OpenGtn() { return OpenToolTables(g_gtnTables); }
void CloseGtn() { CloseToolTables(g_gtnTables); }
bool RegisterGtn(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_gtnTables, name, result);
}

} // namespace

const ToolHooks kGtnTool = {"GTN", PrepareGtn, OpenGtn, CloseGtn, RegisterGtn};

} // namespace hvt
