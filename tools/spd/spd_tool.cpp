// The SPD tool's tables and the hooks the shell calls.
#include "tools/spd/spd_tool.h"

#include <iterator>

#include "host/tool_tables.h"

namespace hvt {

namespace {

RegistrationRow g_spdRows[] = {
    {{" SPDUP", " RRJ", " Spd_Update", " Data Ref, Depth", " 1", " HVT", " "}},
};

// Added to the Data menu once the command it runs is among the rows above.
MenuBlock g_spdMenu = {{
    {" -", " ", " ", " ", " "},
    {" SPD                            Alt,d,&y", " SpdWrapper", " ",
     " Spd Indicator", " "},
}};

ToolTables g_spdTables = {
    .rows = g_spdRows,
    .rowCount = std::size(g_spdRows),
    .menu = &g_spdMenu,
};

void PrepareSpd() { PrepareToolTables(g_spdTables); }
int OpenSpd() { return OpenToolTables(g_spdTables); }
void CloseSpd() { CloseToolTables(g_spdTables); }
bool RegisterSpd(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_spdTables, name, result);
}

} // namespace

const ToolHooks kSpdTool = {"SPD", PrepareSpd, OpenSpd, CloseSpd, RegisterSpd};

} // namespace hvt
