// The promise every column tool's macro keeps when a macro sheet calls it
// directly, over one table of its checks per tool: a refused call answers 0,
// shows exactly its one message in an error alert, and writes nothing.
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
        countOnly(data, 0, 99, 0, 0) {
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

  XLOPER number{};
  MacroRef column, output, rows31, rows40, wide, firstCell, fifthCell, lockedOutput, countOnly;
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
const std::string kOneColumn = "Your data set must be in one column only!";
const std::string kOverwrite = "Your output will overwrite your input!";
const std::string kProtected = "Your output document is protected.";
const std::string kKlxSmoothness = "Your data smoothness value must be between 0 and 10,000.";
const std::string kGtnSmoothness = "Your Smoothness value must be between 2 and 50.";
const std::string kSpdRows =
    "Your requested data set cannot have less than 32 rows, nor can it have more "
    "rows than the spreadsheet can contain!";

std::vector<DirectCheck> Checks() {
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
       kOneColumn},
      {"PQE two areas", [](Call& c) { return c.Pqe(&c.twoAreas, c.Output(), 10); }, kOneColumn},
      {"PQE two areas by count", [](Call& c) { return c.Pqe(&c.countOnly.value, c.Output(), 10); },
       kOneColumn},
      {"KLX overwrite", [](Call& c) { return c.Klx(c.Data(), &c.fifthCell.value, 10, 0); },
       kOverwrite},
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
       kOneColumn},
      {"GTN two areas", [](Call& c) { return c.Gtn(&c.twoAreas, c.Output(), 10, 24, 24); },
       kOneColumn},
      {"GTN overwrite", [](Call& c) { return c.Gtn(c.Data(), &c.firstCell.value, 10, 24, 24); },
       kOverwrite},
      {"GTN output not a reference", [](Call& c) { return c.Gtn(c.Data(), &c.number, 10, 24, 24); },
       kImproperOutput},
      {"GTN protected output",
       [](Call& c) { return c.Gtn(c.Data(), &c.lockedOutput.value, 10, 24, 24); }, kProtected},
      {"GTN too short for the span",
       [](Call& c) { return c.Gtn(&c.rows40.value, c.Output(), 10, 24, 36); },
       "Your data set is too short to calculate any results for the Span you selected."},

      {"SPD data not a reference", [](Call& c) { return c.Spd(&c.number, c.Output(), 10); },
       kImproperData},
      {"SPD 31 rows", [](Call& c) { return c.Spd(&c.rows31.value, c.Output(), 10); }, kSpdRows},
      {"SPD depth over the rows", [](Call& c) { return c.Spd(c.Data(), c.Output(), 101); },
       kSpdRows},
      {"SPD depth 1", [](Call& c) { return c.Spd(c.Data(), c.Output(), 1); },
       "Your Depth value must be between 2 and 500."},
      {"SPD two columns", [](Call& c) { return c.Spd(&c.wide.value, c.Output(), 10); },
       kOneColumn},
      {"SPD overwrite", [](Call& c) { return c.Spd(c.Data(), &c.firstCell.value, 10); },
       kOverwrite},
      {"SPD output not a reference", [](Call& c) { return c.Spd(c.Data(), &c.number, 10); },
       kImproperOutput},
      {"SPD protected output", [](Call& c) { return c.Spd(c.Data(), &c.lockedOutput.value, 10); },
       kProtected},
      {"SPD too short for the depth", [](Call& c) { return c.Spd(&c.rows40.value, c.Output(), 40); },
       "Your data set is too short to calculate any results for the Depth you selected."},
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
    if (line != "beep") said.push_back(line);
  }
  ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
  EXPECT_EQ(said[0], "alert 3 \"" + check.message + "\" -> OK");
  EXPECT_EQ(standin::CsvText(data), dataBefore);
  EXPECT_EQ(standin::CsvText(locked), lockedBefore);
}

INSTANTIATE_TEST_SUITE_P(EveryTool, DirectChecks, ::testing::ValuesIn(Checks()),
                         [](const ::testing::TestParamInfo<DirectCheck>& info) {
                           std::string name;
                           for (char c : info.param.name) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace hvt::testing
