// The BLK tool's tables: registration rows, its Data-menu entry, the main
// and sample dialogs, and the hooks the shell calls.
#include <iterator>

#include "host/messages.h"
#include "tools/blk/blk.h"
#include "tools/blk/core/blk.h"

namespace hvt::blk {

RegistrationRow g_rows[] = {
    Registered<&BlokWrapper>(" BlokWrapper", " J", " BlokSamp_2", " ", " 2", " HVT", " w"),
    Registered<&Blok, &Blok12>(" Blok", " JRRRJJJ", " BlokMacro",
                               " DataRef,OutputRef,TitRef,MNIndex,PChoice,NormOrDet", " 2",
                               " HVT", " ", " Blok12", " JUUUJJJ"),
};

MenuBlock g_menu = {{
    {" -", " ", " ", " ", " "},
    {" BLK 2                       Alt,d,&w", " BlokSamp_2", " ", " BlokSamp 2",
     " "},
}};

DialogRow g_mainDialog[kMainDialogRows] = {
    {{" ", " 189", " 36", " 310", " 270", " BlokSamp 2", " 4"}},
    {{" 5", " 13", " 54", " ", " ", " Data &Titles Row:", " "}},
    {{" 10", " 13", " 69", " 275", " ", " ", " R1:R1"}},
    {{" 5", " 13", " 97", " ", " ", " &Data Reference:", " "}},
    {{" 10", " 13", " 113", " 275", " ", " ", " "}},
    {{" 5", " 13", " 137", " ", " ", " &First Column to Write to :", " "}},
    {{" 10", " 13", " 153", " 275", " ", " ", " "}},
    {{" 1", " 50", " 20", " 88", " ", " &OK", " "}},
    {{" 2", " 170", " 20", " 88", " 19", " &Cancel", " "}},
    {{" 14", " 89", " 190", " 129", " 56", " Blocks", " "}},
    {{" 13", " ", " ", " ", " ", " &Standard", " 1"}},
    {{" 113", " ", " ", " ", " ", " Det&rended", " "}},
    {{" 14", " 46", " 271", " 224", " 56", " Detrended Blocks", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 1"}},
    {{" 12", " ", " ", " ", " ", " &Normalized Detrended", " "}},
    {{" 12", " ", " ", " ", " ", " Detr&ended Only", " "}},
};

DialogRow g_sampleDialog[kSampleDialogRows] = {
    {{" ", " ", " 25", " 282", " 374", " Block Preprossessing", " 2"}},
    {{" 14", " 29", " 36", " 149", " 328", " Select One", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 6"}},
    {{" 12", " ", " ", " ", " ", " n=1,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=2,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=3,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=4,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=5,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=7,    M=2", " "}},
    {{" 12", " ", " ", " ", " ", " n=10,  M=2", " "}},
    {{" 12", " ", " ", " ", " ", " n=14,  M=4", " "}},
    {{" 12", " ", " ", " ", " ", " n=19,  M=4", " "}},
    {{" 12", " ", " ", " ", " ", " n=26,  M=8", " "}},
    {{" 12", " ", " ", " ", " ", " n=35,  M=8", " "}},
    {{" 12", " ", " ", " ", " ", " n=48,  M=16", " "}},
    {{" 12", " ", " ", " ", " ", " n=65,  M=16", " "}},
    {{" 12", " ", " ", " ", " ", " n=90,  M=32", " "}},
    {{" 12", " ", " ", " ", " ", " n=123, M=32", " "}},
    {{" 12", " ", " ", " ", " ", " n=172, M=64", " "}},
    {{" 12", " ", " ", " ", " ", " n=237, M=64", " "}},
    {{" 12", " ", " ", " ", " ", " n=334, M=128", " "}},
    {{" 5", " 20", " 15", " 182", " 17", " \"n\" and \"M\" VALUES", " "}},
    {{" 17", " 205", " 20", " 53", " 37", " 1", " "}},
    {{" 1", " 200", " 88", " 66", " 29", " &OK", " "}},
    {{" 2", " 200", " 139", " 66", " 29", " &Cancel", " "}},
};

XLOPER g_mainArray{};
XLOPER g_sampleArray{};
XLOPER g_mainAnswer{};
XLOPER g_sampleAnswer{};

// The settings of the last command.
int g_mnIndex = 0;
int g_method = 0;
int g_normalization = 0;
WORD g_dataColumns = 0;

ToolTables g_tables = {
    .rows = g_rows,
    .rowCount = std::size(g_rows),
    .menu = &g_menu,
    .dialog = g_mainDialog,
    .dialogRows = std::size(g_mainDialog),
    .dialogArray = &g_mainArray,
    .remembered = &g_mainAnswer,
};

namespace {

void PrepareBlk() {
  PrepareToolTables(g_tables);
  PrepareDialogRows(g_sampleDialog, std::size(g_sampleDialog));
  g_sampleArray.val.array.lparray = nullptr;
  SetDialogArrayShape(g_sampleArray, std::size(g_sampleDialog));
  PrepareBlkRecords();
  g_mainAnswer.xltype = xltypeBool;
  g_mainAnswer.val.xbool = 0;
  g_sampleAnswer.xltype = xltypeBool;
  g_sampleAnswer.val.xbool = 0;
}

int OpenBlk() {
  if (OpenToolTables(g_tables) == 0) return 0;
  if (!BuildDialogArray(g_mainDialog, std::size(g_mainDialog), g_mainArray) ||
      !BuildDialogArray(g_sampleDialog, std::size(g_sampleDialog), g_sampleArray)) {
    FreeDialogArray(g_mainArray);
    FreeDialogArray(g_sampleArray);
    ShowInsufficientMemory();
    return 0;
  }
  ForgetDialogAnswer(g_sampleAnswer);
  return 1;
}

void CloseBlk() {
  CloseToolTables(g_tables);
  FreeDialogArray(g_sampleArray);
  ForgetDialogAnswer(g_sampleAnswer);
}

bool RegisterBlk(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_tables, name, result);
}

}  // namespace

const ToolHooks kTool = {"BLK", PrepareBlk, OpenBlk, CloseBlk, RegisterBlk};

}  // namespace hvt::blk
