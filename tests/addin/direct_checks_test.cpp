// The promise every tool's macro keeps when a macro sheet calls it directly,
// over one table of its checks per tool: a refused call answers 0, shows
// exactly its one message in an error alert, and writes nothing.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/addin/addin_fixture.h"

namespace hvt::testing {
namespace {

// The fixture's look-up of the module's exports, for the calls below.
struct Exports : AddInTest {
  using AddInTest::Procedure;
};

// The references a direct call is given, over a walk in Data!A1:A100 and a
// protected sheet beside it, and the tools' macros as a macro sheet calls them.
struct Call {
  Call(standin::SheetId data, standin::SheetId locked)
      : column(data, 0, 99, 0, 0),
        output(data, 0, 0, 2, 2),
        rows31(data, 0, 30, 0, 0),
        rows40(data, 0, 39, 0, 0),
        wide(data, 0, 99, 0, 1),
        firstCell(data, 0, 0, 0, 0),
        fifthCell(data, 4, 4, 0, 0),
        lockedOutput(locked, 0, 0, 1, 1),
        countOnly(data, 0, 99, 0, 0),
        titlesTwoRows(data, 0, 1, 0, 0),
        farRight(data, 0, 0, 255, 255),
        wideTwoRows(data, 0, 1, 0, 1) {
    // Two areas by its count alone: the table holds the first only.
    countOnly.table.count = 2;
    number.xltype = xltypeNum;
    number.val.num = 3;
    twoAreas.xltype = xltypeRef;
    twoAreas.val.mref.lpmref = reinterpret_cast<XLMREF*>(&areas);
    twoAreas.val.mref.idSheet = data;
  }

  XLOPER* Data() { return &column.value; }
  XLOPER* Output() { return &output.value; }

  int Klx(XLOPER* data, XLOPER* out, double smoothness, double phase) {
    auto klx = Exports::Procedure<int (*)(LPXLOPER, LPXLOPER, double*, double*)>("KLX");
    return klx == nullptr ? -99 : klx(data, out, &smoothness, &phase);
  }
  int Pqe(XLOPER* data, XLOPER* out, double smoothness) {
    auto pqe = Exports::Procedure<int (*)(LPXLOPER, LPXLOPER, double*)>("HalPQEX");
    return pqe == nullptr ? -99 : pqe(data, out, &smoothness);
  }
  int Gtn(XLOPER* data, XLOPER* out, int smoothness, int span, int firstRow) {
    auto gtn = Exports::Procedure<int (*)(LPXLOPER, LPXLOPER, int, int, int)>("GTN_func");
    return gtn == nullptr ? -99 : gtn(data, out, smoothness, span, firstRow);
  }
  int Spd(XLOPER* data, XLOPER* out, int depth) {
    auto spd = Exports::Procedure<int (*)(LPXLOPER, LPXLOPER, int)>("Spd");
    return spd == nullptr ? -99 : spd(data, out, depth);
  }

  int Blk(XLOPER* data, XLOPER* out, XLOPER* titles, int index, int method,
          int normalization) {
    auto blk =
        Exports::Procedure<int (*)(LPXLOPER, LPXLOPER, LPXLOPER, int, int, int)>("Blok");
    return blk == nullptr ? -99 : blk(data, out, titles, index, method, normalization);
  }
  // BLK with a sound call's references and `index`, `method`, `normalization`.
  int Blk(int index, int method, int normalization) {
    return Blk(Data(), Output(), &firstCell.value, index, method, normalization);
  }
  int Decor(XLOPER* data, XLOPER* out, short update) {
    auto decor = Exports::Procedure<int (*)(LPXLOPER, LPXLOPER, short)>("Decor");
    return decor == nullptr ? -99 : decor(data, out, update);
  }

  XLOPER number{};
  MacroRef column, output, rows31, rows40, wide, firstCell, fifthCell, lockedOutput, countOnly,
      titlesTwoRows, farRight, wideTwoRows;
  struct {
    WORD count = 2;
    XLREF reftbl[2] = {XLREF{0, 99, 0, 0}, XLREF{0, 99, 5, 5}};
  } areas;
  XLOPER twoAreas{};
};

struct DirectCheck {
  std::string name;
  std::function<int(Call&)> call;
  std::string message;
};

void PrintTo(const DirectCheck& check, std::ostream* out) { *out << check.name; }

const std::string kImproperData = "Your data reference is improper! Use complete reference.";
const std::string kImproperOutput = "Your output reference is improper! Use complete reference.";
const std::string kDirectOneColumn = "Your data set must be in one column only!";
const std::string kDirectOverwrite = "Your output will overwrite your input!";
const std::string kProtected = "Your output document is protected.";
const std::string kKlxSmoothness = "Your data smoothness value must be between 0 and 10,000.";
const std::string kGtnSmoothness = "Your Smoothness value must be between 2 and 50.";
const std::string kImproperDataParameter =
    "Your data reference parameter is improper! Use a complete reference, including the "
    "worksheet name.";
const std::string kImproperOutputParameter =
    "Your output reference parameter is improper! Use a complete reference, including the "
    "worksheet name.";
const std::string kImproperTitlesParameter =
    "Your titles reference parameter is improper! Use a complete reference, including the "
    "worksheet name.";
const std::string kDecorColumns =
    "Your input reference must be more than one column, and the columns must be contiguous.";
const std::string kDirectSpdRows =
    "Your requested data set cannot have less than 32 rows, nor can it have more "
    "rows than the spreadsheet can contain!";

std::vector<DirectCheck> EveryDirectCheck() {
  return {
      {"KLX data not a reference", [](Call& c) { return c.Klx(&c.number, c.Output(), 10, 0); },
       kImproperData},
      {"KLX 31 rows", [](Call& c) { return c.Klx(&c.rows31.value, c.Output(), 10, 0); },
       "Your data set cannot have less than 32 rows, nor can it have more rows than the "
       "spreadsheet can contain!"},
      {"PQE smoothness", [](Call& c) { return c.Pqe(c.Data(), c.Output(), 10000.5); },
       kKlxSmoothness},
      {"KLX smoothness NaN", [](Call& c) { return c.Klx(c.Data(), c.Output(), NAN, 0); },
       kKlxSmoothness},
      {"KLX two columns", [](Call& c) { return c.Klx(&c.wide.value, c.Output(), 10, 0); },
       kDirectOneColumn},
      {"PQE two areas", [](Call& c) { return c.Pqe(&c.twoAreas, c.Output(), 10); }, kDirectOneColumn},
      {"PQE two areas by count", [](Call& c) { return c.Pqe(&c.countOnly.value, c.Output(), 10); },
       kDirectOneColumn},
      {"KLX overwrite", [](Call& c) { return c.Klx(c.Data(), &c.fifthCell.value, 10, 0); },
       kDirectOverwrite},
      {"PQE output not a reference", [](Call& c) { return c.Pqe(c.Data(), &c.number, 10); },
       kImproperOutput},
      {"KLX protected output",
       [](Call& c) { return c.Klx(c.Data(), &c.lockedOutput.value, 10, 0); }, kProtected},

      {"GTN data not a reference",
       [](Call& c) { return c.Gtn(&c.number, c.Output(), 10, 24, 24); }, kImproperData},
      {"GTN 31 rows", [](Call& c) { return c.Gtn(&c.rows31.value, c.Output(), 10, 24, 24); },
       "Your data set cannot have less than 32 rows, nor can it have more rows than the "
       "spreadsheet can contain!"},
      {"GTN smoothness 1", [](Call& c) { return c.Gtn(c.Data(), c.Output(), 1, 24, 24); },
       kGtnSmoothness},
      {"GTN smoothness 51", [](Call& c) { return c.Gtn(c.Data(), c.Output(), 51, 24, 24); },
       kGtnSmoothness},
      {"GTN span 25", [](Call& c) { return c.Gtn(c.Data(), c.Output(), 10, 25, 25); },
       "Your Span value must be 24, 48, 96 or 192."},
      {"GTN span over the rows", [](Call& c) { return c.Gtn(c.Data(), c.Output(), 10, 192, 192); },
       "Your data set must have at least 2 more values than the Span you selected."},
      {"GTN negative first row", [](Call& c) { return c.Gtn(c.Data(), c.Output(), 10, 24, -1); },
       "Your firstrow value must not be negative."},
      {"GTN together too short",
       [](Call& c) { return c.Gtn(c.Data(), c.Output(), 10, 24, 192); },
       "You have selected \"Begin Together\" and multiple Spans, and your data set is too "
       "short to calculate the results for the longest Span you selected."},
      {"GTN two columns", [](Call& c) { return c.Gtn(&c.wide.value, c.Output(), 10, 24, 24); },
       kDirectOneColumn},
      {"GTN two areas", [](Call& c) { return c.Gtn(&c.twoAreas, c.Output(), 10, 24, 24); },
       kDirectOneColumn},
      {"GTN overwrite", [](Call& c) { return c.Gtn(c.Data(), &c.firstCell.value, 10, 24, 24); },
       kDirectOverwrite},
      {"GTN output not a reference", [](Call& c) { return c.Gtn(c.Data(), &c.number, 10, 24, 24); },
       kImproperOutput},
      {"GTN protected output",
       [](Call& c) { return c.Gtn(c.Data(), &c.lockedOutput.value, 10, 24, 24); }, kProtected},
      {"GTN too short for the span",
       [](Call& c) { return c.Gtn(&c.rows40.value, c.Output(), 10, 24, 36); },
       "Your data set is too short to calculate any results for the Span you selected."},

      {"SPD data not a reference", [](Call& c) { return c.Spd(&c.number, c.Output(), 10); },
       kImproperData},
      {"SPD 31 rows", [](Call& c) { return c.Spd(&c.rows31.value, c.Output(), 10); }, kDirectSpdRows},
      {"SPD depth over the rows", [](Call& c) { return c.Spd(c.Data(), c.Output(), 101); },
       kDirectSpdRows},
      {"SPD depth 1", [](Call& c) { return c.Spd(c.Data(), c.Output(), 1); },
       "Your Depth value must be between 2 and 500."},
      {"SPD two columns", [](Call& c) { return c.Spd(&c.wide.value, c.Output(), 10); },
       kDirectOneColumn},
      {"SPD overwrite", [](Call& c) { return c.Spd(c.Data(), &c.firstCell.value, 10); },
       kDirectOverwrite},
      {"SPD output not a reference", [](Call& c) { return c.Spd(c.Data(), &c.number, 10); },
       kImproperOutput},
      {"SPD protected output", [](Call& c) { return c.Spd(c.Data(), &c.lockedOutput.value, 10); },
       kProtected},
      {"SPD too short for the depth", [](Call& c) { return c.Spd(&c.rows40.value, c.Output(), 40); },
       "Your data set is too short to calculate any results for the Depth you selected."},

      {"BLK data not a reference",
       [](Call& c) { return c.Blk(&c.number, c.Output(), &c.firstCell.value, 3, 1, 1); },
       kImproperDataParameter},
      {"BLK output not a reference",
       [](Call& c) { return c.Blk(c.Data(), &c.number, &c.firstCell.value, 3, 1, 1); },
       kImproperOutputParameter},
      {"BLK titles not a reference",
       [](Call& c) { return c.Blk(c.Data(), c.Output(), &c.number, 3, 1, 1); },
       kImproperTitlesParameter},
      {"BLK two areas",
       [](Call& c) { return c.Blk(&c.countOnly.value, c.Output(), &c.firstCell.value, 3, 1, 1); },
       "Your input reference must not be a compound reference!"},
      {"BLK method", [](Call& c) { return c.Blk(10, 4, 1); },
       "Error! Your Process Method parameter must be 1,2, or 3."},
      {"BLK normalization", [](Call& c) { return c.Blk(10, 2, 3); },
       "Error! Your Normalization parameter must be 1 or 2!"},
      {"BLK index 0", [](Call& c) { return c.Blk(0, 1, 1); },
       "Your N and M parameter must be greater than 0!"},
      {"BLK index 19", [](Call& c) { return c.Blk(19, 1, 1); },
       "Your N and M index parameter is too large! It must not be more than 18; N can be no "
       "more than 334."},
      {"BLK index detrended", [](Call& c) { return c.Blk(9, 3, 2); },
       "Your N and M index parameter is too small! It must be at least 10 when you are "
       "detrending; N must be at least 26."},
      {"BLK index normalized", [](Call& c) { return c.Blk(11, 2, 1); },
       "Your N and M index parameter is too small! It must be at least 12 when you are "
       "detrending and normalizing; N must be at least 48."},
      {"BLK protected output",
       [](Call& c) {
         return c.Blk(c.Data(), &c.lockedOutput.value, &c.firstCell.value, 3, 1, 1);
       },
       kProtected},
      {"BLK overwrite",
       [](Call& c) { return c.Blk(c.Data(), &c.firstCell.value, &c.firstCell.value, 3, 1, 1); },
       "Your output will overwrite your input. This is not allowed."},
      {"BLK titles two rows",
       [](Call& c) { return c.Blk(c.Data(), c.Output(), &c.titlesTwoRows.value, 3, 1, 1); },
       "Your data titles must be in one row only!"},
      {"BLK titles not text", [](Call& c) { return c.Blk(3, 1, 1); },
       "You MUST have text titles in each of your input columns!"},

      {"decorrelator data not a reference",
       [](Call& c) { return c.Decor(&c.number, c.Output(), 0); },
       kImproperDataParameter},
      {"decorrelator output not a reference",
       [](Call& c) { return c.Decor(&c.wide.value, &c.number, 0); },
       kImproperOutputParameter},
      {"decorrelator update flag", [](Call& c) { return c.Decor(&c.wide.value, c.Output(), -1); },
       "Your Formula Update must be TRUE or FALSE! It cannot be less than zero."},
      {"decorrelator one column", [](Call& c) { return c.Decor(c.Data(), c.Output(), 0); },
       kDecorColumns},
      {"decorrelator two areas", [](Call& c) { return c.Decor(&c.twoAreas, c.Output(), 0); },
       kDecorColumns},
      {"decorrelator overwrite",
       [](Call& c) { return c.Decor(&c.wide.value, &c.firstCell.value, 0); }, kDirectOverwrite},
      {"decorrelator far right",
       [](Call& c) { return c.Decor(&c.wide.value, &c.farRight.value, 0); },
       "Your first output column is too far to the right. There can be a maximum of 256 "
       "columns in a worksheet!"},
      {"decorrelator two rows",
       [](Call& c) { return c.Decor(&c.wideTwoRows.value, c.Output(), 0); },
       "You must have at least 3 rows of data to decorrelate!"},
      {"decorrelator protected output",
       [](Call& c) { return c.Decor(&c.wide.value, &c.lockedOutput.value, 0); },
       "Your output document is protected. You must unprotect it!"},
  };
}

class DirectChecks : public AddInTest, public ::testing::WithParamInterface<DirectCheck> {};

TEST_P(DirectChecks, RefuseWithTheirOneMessageAndWriteNothing) {
  const DirectCheck& check = GetParam();
  standin::SheetId data = SheetWithColumn(Walk(100));
  standin::SheetId locked = standin::AddSheet("Book1.xls", "Locked");
  standin::ProtectSheet(locked, true);
  const std::string dataBefore = standin::CsvText(data);
  const std::string lockedBefore = standin::CsvText(locked);
  Call call(data, locked);
  standin::ClearTranscript();
  EXPECT_EQ(check.call(call), 0);
  std::vector<std::string> said;
  for (const std::string& line : standin::Transcript()) {
    // The beep before an alert and the status bar given back are no words.
    if (line != "beep" && line != "status cleared") said.push_back(line);
  }
  ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
  EXPECT_EQ(said[0], "alert 3 \"" + check.message + "\" -> OK");
  EXPECT_EQ(standin::CsvText(data), dataBefore);
  EXPECT_EQ(standin::CsvText(locked), lockedBefore);
  EXPECT_EQ(standin::Sheets("Book1.xls"), (std::vector<std::string>{"Data", "Locked"}));
}

INSTANTIATE_TEST_SUITE_P(EveryTool, DirectChecks, ::testing::ValuesIn(EveryDirectCheck()),
                         CaseName());

}  // namespace
}  // namespace hvt::testing
