// The GTN tool's tables and the hooks the shell calls.
#include "tools/gtn/gtn_tool.h"

#include <iterator>

#include "host/host_values.h"
#include "host/registration.h"

namespace hvt {

namespace {

RegistrationRow g_gtnRows[] = {
    {{" GTNUP", " RRJJ", " GTN_Update", " Data_Ref, Smoothness, Span", " 1",
      " HVT", " "}},
};

void PrepareGtn() { PrepareRegistrationRows(g_gtnRows, std::size(g_gtnRows)); }

int OpenGtn() {
  RegisterRows(g_gtnRows, std::size(g_gtnRows));
  ReadHostVersion();
  return 1;
}

void CloseGtn() {
  UnregisterRows(g_gtnRows, std::size(g_gtnRows));
  ReadHostVersion();
  DeleteRegisteredNames(g_gtnRows, std::size(g_gtnRows));
}

bool RegisterGtn(LPXLOPER name, LPXLOPER result) {
  return RegisterRowByName(g_gtnRows, std::size(g_gtnRows), name, result);
}

}  // namespace

const ToolHooks kGtnTool = {"GTN", PrepareGtn, OpenGtn, CloseGtn, RegisterGtn};

}  // namespace hvt
