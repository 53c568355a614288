// The KLX tool's tables and the hooks the shell calls.
#include "tools/klx/klx_tool.h"

#include <iterator>

#include "host/host_values.h"
#include "host/registration.h"

namespace hvt {

namespace {

RegistrationRow g_klxRows[] = {
    {{" KLXUP", " RREE", " KLX_Update", " data_ref, smoothness, phase", " 1",
      " HVT", " "}},
};

void PrepareKlx() {
  PrepareRegistrationRows(g_klxRows, std::size(g_klxRows));
}

int OpenKlx() {
  RegisterRows(g_klxRows, std::size(g_klxRows));
  ReadHostVersion();
  return 1;
}

void CloseKlx() {
  UnregisterRows(g_klxRows, std::size(g_klxRows));
  ReadHostVersion();
  DeleteRegisteredNames(g_klxRows, std::size(g_klxRows));
}

bool RegisterKlx(LPXLOPER name, LPXLOPER result) {
  return RegisterRowByName(g_klxRows, std::size(g_klxRows), name, result);
}

}  // namespace

const ToolHooks kKlxTool = {"KLX", PrepareKlx, OpenKlx, CloseKlx, RegisterKlx};

}  // namespace hvt
