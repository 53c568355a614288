// The SPD tool's tables and the hooks the shell calls.
#include "tools/spd/spd_tool.h"

#include <iterator>

#include "host/tool_tables.h"
#include "tools/spd/spd_command.h"

namespace hvt {

namespace {

RegistrationRow g_spdRows[] = {
    {{" SpdWrapper", " J", " SpdWrapper", " ", " 2", " HVT", " "}},
    {{" Spd", " JRRJ", " Spd_Macro", " Data Ref, Output Ref, Depth", " 2", " HVT",
      " "}},
    {{" SPDUP", " RRJ", " Spd_Update", " Data Ref, Depth", " 1", " HVT", " "}},
};

MenuBlock g_spdMenu = {{
    {" -", " ", " ", " ", " "},
    {" SPD                            Alt,d,&y", " SpdWrapper", " ",
     " Spd Indicator", " "},
}};

ToolTables g_spdTables = {
    .rows = g_spdRows,
    .rowCount = std::size(g_spdRows),
    .menu = &g_spdMenu,
    .dialog = spd_command::g_dialog,
    .dialogRows = spd_command::kDialogRows,
    .dialogArray = &spd_command::g_dialogArray,
    .remembered = &spd_command::g_remembered,
};

void PrepareSpd() {
  PrepareToolTables(g_spdTables);
  spd_command::PrepareCommand();
}
int OpenSpd() { return OpenToolTables(g_spdTables); }
void CloseSpd() { CloseToolTables(g_spdTables); }
bool RegisterSpd(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_spdTables, name, result);
}

} // namespace

const ToolHooks kSpdTool = {"SPD", PrepareSpd, OpenSpd, CloseSpd, RegisterSpd};

} // namespace hvt
