// The add-in as the host sees it: the exported entry points, the shell's own
// registration rows, its Help-menu entry and About box, and the walk over
// every tool's hooks in tool order.
#include "shell/shell.h"

#include <iterator>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "tools/blk/blk.h"
#include "tools/decor/decor.h"
#include "tools/gtn/gtn.h"
#include "tools/klx/klx.h"
#include "tools/spd/spd.h"

namespace hvt {

// Tool order: KLX, GTN, decorrelator, SPD, BLK.
const ToolHooks* const kShellTools[] = {&klx::kTool, &gtn::kTool, &decor::kTool, &spd::kTool, &blk::kTool};
const std::size_t kShellToolCount = std::size(kShellTools);

RegistrationRow g_shellRows[2] = {
    {{" fExit", " J", " Quit_HVT", " ", " 2", " HVT", " "}},
    {{" rAbout", " J", " AboutHVT", " ", " 2", " HVT", " "}},
};

MenuBlock g_aboutMenu = {{
    {" -", " ", " ", " ", " "},
    {" Abou&t Halvo Tools", " AboutHVT", " ", " ", " "},
}};

DialogRow g_aboutDialog[7] = {
    {{" ", " ", " ", " 342", " 114", " About Halvo Tools", " "}},
    {{" 5", " 14", " 10", " ", " ", " Halvo Tools, 32 Bit Versions", " "}},
    {{" 5", " 14", " 32", " ", " ", " Halvo Tools", " "}},
    {{" 5", " 14", " 52", " ", " ", " Version 1.0.0", " "}},
    {{" 5", " 14", " 77", " ", " ",
      " Signal-processing tools for worksheet time series", " "}},
    {{" 1", " 215", " 73", " 88", " ", " &OK", " "}},
    {{" 17", " 259", " 10", " ", " ", " 2", " "}},
};

XLOPER g_aboutArray{};

namespace {

char g_helpMenu[] = " Help";
char g_addedMessage[] = " HVT Tools added to Data menu!";
char g_removedMessage[] = " HVT Tools removed from Data menu!";
char g_addInName[] = "\x0bHalvo Tools";

XLOPER g_registerResult{};
XLOPER g_managerInfo{};

}  // namespace

void SetAboutArrayShape() { SetDialogArrayShape(g_aboutArray, std::size(g_aboutDialog)); }

void PrepareModule() {
  PrepareDialogRows(g_aboutDialog, std::size(g_aboutDialog));
  PrepareMenuBlock(g_aboutMenu);
  PrepareRegistrationRows(g_shellRows, std::size(g_shellRows));
  for (const ToolHooks* tool : kShellTools) tool->prepare();
}

}  // namespace hvt

using namespace hvt;

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  SetAboutArrayShape();
  if (reason == DLL_PROCESS_ATTACH) PrepareModule();
  return TRUE;
}
#else
// The loader runs this when the module is mapped, as Windows runs DllMain
// with the process-attach notification.
__attribute__((constructor)) static void AttachModule() {
  SetAboutArrayShape();
  PrepareModule();
}
#endif

extern "C" {

HVT_EXPORT int WINAPI xlAutoOpen(void) {
  // The version first: it says through which interface to register.
  ReadHostVersion();
  RegisterRows(g_shellRows, std::size(g_shellRows));
  // The About entry is added only when it is not there yet, so opening
  // twice does not duplicate it.
  if (AddMenuBlock(g_aboutMenu, g_helpMenu) == 0) return 0;
  if (!BuildDialogArray(g_aboutDialog, std::size(g_aboutDialog), g_aboutArray)) {
    ShowInsufficientMemory();
    return 0;
  }
  // A tool that fails to open does not fail the add-in.
  for (const ToolHooks* tool : kShellTools) tool->open();
  return 1;
}

HVT_EXPORT int WINAPI xlAutoClose(void) {
  UnregisterRows(g_shellRows, std::size(g_shellRows));
  // The names the host defined for the shell's commands go too, or they
  // would outlive the add-in as the tools' names do not.
  DeleteRegisteredNames(g_shellRows, std::size(g_shellRows));
  RemoveMenuBlock(g_aboutMenu, g_helpMenu);
  FreeDialogArray(g_aboutArray);
  for (const ToolHooks* tool : kShellTools) tool->close();
  return 1;
}

HVT_EXPORT LPXLOPER WINAPI xlAutoRegister(LPXLOPER name) {
  g_registerResult.xltype = xltypeErr;
  g_registerResult.val.err = xlerrValue;
  for (const ToolHooks* tool : kShellTools) {
    if (tool->registerByName(name, &g_registerResult)) return &g_registerResult;
  }
  RegisterRowByName(g_shellRows, std::size(g_shellRows), name,
                    &g_registerResult);
  return &g_registerResult;
}

// Only a host of version 12 or later asks through the 12-series: the name
// is read as a byte text (procedure names are ASCII), and the register id
// answered as the number or error it is.
HVT_EXPORT LPXLOPER12 WINAPI xlAutoRegister12(LPXLOPER12 name) {
  static XLOPER12 answer;
  answer.xltype = xltypeErr;
  answer.val.err = xlerrValue;
  if (name == nullptr || (name->xltype & ~(xlbitXLFree | xlbitDLLFree)) != xltypeStr ||
      name->val.str == nullptr) {
    return &answer;
  }
  if (g_versionRead == 0) ReadHostVersion();
  char text[kRegistrationTextSize + 1];
  std::size_t length = name->val.str[0];
  if (length > kRegistrationTextSize - 1) return &answer;
  text[0] = static_cast<char>(length);
  for (std::size_t i = 1; i <= length; ++i) {
    XCHAR c = name->val.str[i];
    text[i] = c < 0x80 ? static_cast<char>(c) : '?';
  }
  text[length + 1] = '\0';
  XLOPER narrowName{};
  narrowName.xltype = xltypeStr;
  narrowName.val.str = text;
  XLOPER* result = xlAutoRegister(&narrowName);
  if ((result->xltype & ~(xlbitXLFree | xlbitDLLFree)) == xltypeNum) {
    answer.xltype = xltypeNum;
    answer.val.num = result->val.num;
  } else if ((result->xltype & ~(xlbitXLFree | xlbitDLLFree)) == xltypeErr) {
    answer.val.err = result->val.err;
  }
  return &answer;
}

HVT_EXPORT int WINAPI xlAutoAdd(void) {
  if (g_versionRead == 0) ReadHostVersion();
  ShowAlert(g_addedMessage, kAlertInfo);
  return 1;
}

HVT_EXPORT int WINAPI xlAutoRemove(void) {
  if (g_versionRead == 0) ReadHostVersion();
  ShowAlert(g_removedMessage, kAlertInfo);
  return 1;
}

HVT_EXPORT LPXLOPER WINAPI xlAddInManagerInfo(LPXLOPER action) {
  g_managerInfo.xltype = xltypeErr;
  g_managerInfo.val.err = xlerrValue;
  if (action == nullptr) return &g_managerInfo;
  XLOPER number{};
  if (CallExcel(xlCoerce, &number, 2, action, TempInteger(xltypeInt)) !=
      xlretSuccess) {
    return &g_managerInfo;
  }
  bool nameAsked = (number.xltype & ~(xlbitXLFree | xlbitDLLFree)) == xltypeInt &&
                   number.val.w == 1;
  ReleaseHostValue(number);
  if (nameAsked) {
    g_managerInfo.xltype = xltypeStr;
    g_managerInfo.val.str = g_addInName;
  }
  return &g_managerInfo;
}

HVT_EXPORT LPXLOPER12 WINAPI xlAddInManagerInfo12(LPXLOPER12 action) {
  static XCHAR addInName[sizeof g_addInName];
  static XLOPER12 info;
  for (std::size_t i = 0; i < sizeof g_addInName; ++i) {
    addInName[i] = static_cast<unsigned char>(g_addInName[i]);
  }
  info.xltype = xltypeErr;
  info.val.err = xlerrValue;
  if (action == nullptr) return &info;
  XLOPER12 type{}, number{};
  type.xltype = xltypeInt;
  type.val.w = xltypeInt;
  if (Excel12(xlCoerce, &number, 2, action, &type) != xlretSuccess) return &info;
  bool nameAsked = (number.xltype & ~(xlbitXLFree | xlbitDLLFree)) == xltypeInt &&
                   number.val.w == 1;
  Excel12(xlFree, nullptr, 1, &number);
  if (nameAsked) {
    info.xltype = xltypeStr;
    info.val.str = addInName;
  }
  return &info;
}

HVT_EXPORT int WINAPI rAbout(void) {
  if (g_aboutArray.val.array.lparray == nullptr) return 1;  // not opened
  XLOPER answer{};
  if (Excel4(xlfDialogBox, &answer, 1, &g_aboutArray) == xlretSuccess) {
    ReleaseHostValue(answer);
  }
  return 1;
}

HVT_EXPORT int WINAPI fExit(void) { return xlAutoClose(); }

}  // extern "C"
