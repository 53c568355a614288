// The GTN tool's tables and the hooks the shell calls.
#include "tools/gtn/gtn_tool.h"

#include <iterator>

#include "host/tool_tables.h"
#include "tools/gtn/gtn_command.h"

namespace hvt {

namespace {

RegistrationRow g_gtnRows[] = {
    {{" GTNWrapper", " A", " GTN", " ", " 2", " HVT", " "}},
    {{" GTN_func", " JRRJJJ", " GTN_Macro",
      " data_ref,output_ref,smoothness,span,firstrow", " 2", " HVT", " "}},
    {{" GTNUP", " RRJJ", " GTN_Update", " Data_Ref, Smoothness, Span", " 1",
      " HVT", " "}},
};

MenuBlock g_gtnMenu = {{
    {" -", " ", " ", " ", " "},
    {" GTN                            Alt,d,&h", " GTN", " ", " GTN", " "},
}};

ToolTables g_gtnTables = {
    .rows = g_gtnRows,
    .rowCount = std::size(g_gtnRows),
    .menu = &g_gtnMenu,
    .dialog = gtn_command::g_dialog,
    .dialogRows = gtn_command::kDialogRows,
    .dialogArray = &gtn_command::g_dialogArray,
    .remembered = &gtn_command::g_remembered,
};

void PrepareGtn() {
  PrepareToolTables(g_gtnTables);
  gtn_command::PrepareCommand();
}
int OpenGtn() { return OpenToolTables(g_gtnTables); }
void CloseGtn() { CloseToolTables(g_gtnTables); }
bool RegisterGtn(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_gtnTables, name, result);
}

} // namespace

const ToolHooks kGtnTool = {"GTN", PrepareGtn, OpenGtn, CloseGtn, RegisterGtn};

} // namespace hvt
