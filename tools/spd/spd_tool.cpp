// The SPD tool's tables and the hooks the shell calls.
#include "tools/spd/spd_tool.h"

#include <iterator>

#include "host/host_values.h"
#include "host/registration.h"

namespace hvt {

namespace {

RegistrationRow g_spdRows[] = {
    {{" SPDUP", " RRJ", " Spd_Update", " Data Ref, Depth", " 1", " HVT", " "}},
};

void PrepareSpd() { PrepareRegistrationRows(g_spdRows, std::size(g_spdRows)); }

int OpenSpd() {
  RegisterRows(g_spdRows, std::size(g_spdRows));
  ReadHostVersion();
  return 1;
}

void CloseSpd() {
  UnregisterRows(g_spdRows, std::size(g_spdRows));
  ReadHostVersion();
  DeleteRegisteredNames(g_spdRows, std::size(g_spdRows));
}

bool RegisterSpd(LPXLOPER name, LPXLOPER result) {
  return RegisterRowByName(g_spdRows, std::size(g_spdRows), name, result);
}

}  // namespace

const ToolHooks kSpdTool = {"SPD", PrepareSpd, OpenSpd, CloseSpd, RegisterSpd};

}  // namespace hvt
