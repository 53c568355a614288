// The promise every command's dialog keeps, over one table of its checks per
// tool: a failed check shows its message in the "ALERT!" box, OK
// there shows the dialog again from the person's answer with the focus on the
// box to correct, a Cancel then ends the command with its abort message, and
// nothing on the sheet or in the selection has changed.
#include <string>
#include <utility>
#include <vector>

#include "tests/addin/addin_fixture.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

// One failed check of one tool's dialog.
struct DialogCheck {
  std::string name;     // "GTN smoothness low"
  const char* command;  // the registered command
  const char* aborted;  // its abort message
  std::vector<std::pair<int, Value>> set;
  const char* message;
  int focus;            // the box focused when the dialog comes back
  bool goesOn = false;  // the pass goes on to a later check the person cancels
};

void PrintTo(const DialogCheck& check, std::ostream* out) { *out << check.name; }

std::vector<std::pair<int, Value>> Boxes(const char* data, const char* output,
                                         std::vector<std::pair<int, Value>> more = {}) {
  std::vector<std::pair<int, Value>> set = {{2, std::string(data)}, {4, std::string(output)}};
  set.insert(set.end(), more.begin(), more.end());
  return set;
}

// KLX's boxes: data, output, smoothness, filter type KLX, phase. (A refused
// phase brings the dialog back focused on the filter type, item 8.)
std::vector<std::pair<int, Value>> Klx(const char* data, const char* output,
                                       double smoothness = 10, double phase = 0) {
  return Boxes(data, output, {{6, smoothness}, {8, 1.0}, {12, phase}});
}

// BLK's boxes: titles, data, output, the Standard and Detrended boxes and
// the normalization group; by default three titled columns in G..I.
struct BlkBoxes {
  const char* titles = "G1:H1";
  const char* data = "G2:H61";
  const char* output = "K1";
  bool standard = true;
};
std::vector<std::pair<int, Value>> Blk(BlkBoxes b) {
  return {{2, std::string(b.titles)}, {4, std::string(b.data)}, {6, std::string(b.output)},
          {10, b.standard}, {11, false}, {13, 1.0}};
}

constexpr char kOneColumn[] = "Your input reference must be ONE column only!";
constexpr char kOverwrite[] = "Your output must not overwrite your input!";
constexpr char kNoNumbers[] = "Your input column has no numbers in it!";
constexpr char kAtLeast32[] = "Your input reference must have at least 32 rows!";
constexpr char kText[] =
    "You must not include text, titles, or blank cells in your input reference.";
constexpr char kGtnSpanRows[] =
    "You must select more data rows to calculate GTN, or you must select a "
    "smaller maximum Span value!";
constexpr char kSpdRows[] =
    "Not enough rows in your input reference! You need at least 32 data rows, "
    "and there must be more data rows than your depth value.";

std::vector<DialogCheck> EveryDialogCheck() {
  const char* klx = "KLXWrapper";
  const char* klxAborted = "KLX Aborted!";
  const char* gtn = "GTN";
  const char* gtnAborted = "GTN Aborted!";
  const char* spd = "SpdWrapper";
  const char* spdAborted = "SPD_32.XLL Aborted!";
  const char* blk = "BlokSamp_2";
  const char* blkAborted = "BlokSamp 2 Aborted!";
  const char* decor = "Decorel";
  const char* decorAborted = "Decorrelator Aborted!";
  const char* decorColumns =
      "Your input reference must be more than one column, and the columns must be contiguous.";
  return {
      {"KLX two columns", klx, klxAborted, Klx("A1:B100", "D1"), kOneColumn, 2},
      {"KLX overwrite", klx, klxAborted, Klx("A1:A100", "A5"), kOverwrite, 4},
      {"KLX 31 rows", klx, klxAborted, Klx("A1:A31", "C1"), kAtLeast32, 2},
      {"KLX text", klx, klxAborted, Klx("F1:F40", "C1"), kText, 2},
      {"KLX smoothness", klx, klxAborted, Klx("A1:A100", "C1", 8193),
       "Smoothness must be a number between 0 and 8,192 inclusive!", 6},
      {"KLX negative smoothness", klx, klxAborted, Klx("A1:A100", "C1", -1),
       "Smoothness must be a number between 0 and 8,192 inclusive!", 6},
      {"KLX phase", klx, klxAborted, Klx("A1:A100", "C1", 10, 100.5),
       "Phase must be a number between -100 and +100 inclusive!", 8},

      {"GTN columns", gtn, gtnAborted, Boxes("A1:B40", "C1"), kOneColumn, 2},
      {"GTN overwrite", gtn, gtnAborted, Boxes("A1:A40", "A1"), kOverwrite, 4},
      {"GTN no numbers", gtn, gtnAborted, Boxes("E:E", "C1"), kNoNumbers, 2},
      {"GTN rows", gtn, gtnAborted, Boxes("A1:A31", "C1"), kAtLeast32, 2},
      {"GTN text", gtn, gtnAborted, Boxes("F1:F40", "C1"), kText, 2},
      {"GTN smoothness low", gtn, gtnAborted, Boxes("A1:A40", "C1", {{6, 1.0}}),
       "Smoothness must be a number between 2 and 50 inclusive!", 6},
      {"GTN smoothness high", gtn, gtnAborted, Boxes("A1:A40", "C1", {{6, 51.0}}),
       "Smoothness must be a number between 2 and 50 inclusive!", 6},
      {"GTN no span", gtn, gtnAborted, Boxes("A1:A40", "C1", {{10, false}}),
       "You must select at least one Span value!", 10},
      {"GTN span rows", gtn, gtnAborted, Boxes("A1:A40", "C1", {{11, true}}), kGtnSpanRows, 2},
      // Room for span 48 plus 2, not for the 55 rows its run needs.
      {"GTN span rows of the run", gtn, gtnAborted, Boxes("A1:A52", "C1", {{11, true}}),
       kGtnSpanRows, 2},
      {"GTN together rows", gtn, gtnAborted, Boxes("A1:A40", "C1", {{11, true}, {15, 1.0}}),
       "You have selected \"Begin Together\", and your data set is too short to "
       "calculate the results for the longest Span you selected.",
       2},

      {"SPD columns", spd, spdAborted, Boxes("A1:B40", "C1"), kOneColumn, 2},
      {"SPD overwrite", spd, spdAborted, Boxes("A1:A40", "A1"), kOverwrite, 4},
      // The pass goes on: the empty column's first cells fail the text check.
      {"SPD no numbers", spd, spdAborted, Boxes("E:E", "C1"), kNoNumbers, 2, true},
      {"SPD depth low", spd, spdAborted, Boxes("A1:A40", "C1", {{6, 1.0}}),
       "Depth must be a number between 2 and 500 inclusive!", 6},
      {"SPD depth high", spd, spdAborted, Boxes("A1:A40", "C1", {{6, 501.0}}),
       "Depth must be a number between 2 and 500 inclusive!", 6},
      {"SPD 31 rows", spd, spdAborted, Boxes("A1:A31", "C1"), kSpdRows, 2},
      {"SPD rows = depth", spd, spdAborted, Boxes("A1:A40", "C1", {{6, 40.0}}), kSpdRows, 2},
      {"SPD text", spd, spdAborted, Boxes("F1:F40", "C1"), kText, 2},

      // Every check after the first goes on to the next: one failing entry
      // still shows one message.
      {"BLK input", blk, blkAborted, Blk({.data = "Nowhere!!A1"}),
       "Your input reference is missing or incorrect!", 4},
      {"BLK output", blk, blkAborted, Blk({.output = ""}),
       "Your output reference is missing or incorrect!", 6},
      {"BLK titles", blk, blkAborted, Blk({.titles = "nothing here"}),
       "Your data titles reference is missing or incorrect!", 2},
      {"BLK titles rows", blk, blkAborted, Blk({.titles = "G1:H2"}),
       "Your data titles must be in one row only!", 2},
      {"BLK titles text", blk, blkAborted, Blk({.titles = "H1:I1", .data = "H2:I61"}),
       "You MUST have text titles in each of your input columns!", 2},
      {"BLK no numbers", blk, blkAborted, Blk({.titles = "Data!G1", .data = "E:E"}),
       "One of your input columns has NO NUMBERS in it!", 4},
      {"BLK no block type", blk, blkAborted, Blk({.standard = false}),
       "You must select at least one type of output block, Standard, Detrended, or both.", 10},
      {"BLK protected", blk, blkAborted, Blk({.output = "Locked!D1"}),
       "You must choose an unprotected output document!", 6},

      {"decorrelator one column", decor, decorAborted, Boxes("G2:G61", "K1"), decorColumns, 2},
      {"decorrelator overwrite", decor, decorAborted, Boxes("G2:I61", "H1"),
       "Either your output will overwrite your input, or you have too many columns of data "
       "to output to the same spreadsheet!",
       4},
      {"decorrelator far right", decor, decorAborted, Boxes("G2:I61", "IU1"),
       "Your first output column is too far to the right. Your output will produce too "
       "many columns to begin where you've chosen!",
       4},
      {"decorrelator no numbers", decor, decorAborted, Boxes("D:E", "K1"),
       "One of your input columns has NO NUMBERS in it!", 2},
      {"decorrelator protected", decor, decorAborted, Boxes("G2:H61", "Locked!A1"),
       "Your output document is protected. You must unprotect it!", 4},
  };
}

class DialogChecks : public AddInTest, public ::testing::WithParamInterface<DialogCheck> {
 protected:
  // A walk in A1:A100, text among the first cells of F1:F40, columns D and E
  // empty, walks in G2:I61 under the titles "Close", "Vol" and a number, a
  // protected sheet "Locked", E5 selected.
  standin::SheetId Sheet() {
    standin::SheetId sheet = SheetWithColumn(Walk(100));
    standin::SetColumn(sheet, "F1", {Value{1.0}, Value{2.0}, Value{std::string("x")},
                                     Value{4.0}, Value{5.0}});
    standin::SetColumn(sheet, "F6", std::vector<Value>(35, Value{1.0}));
    standin::SetCell(sheet, "G1", std::string("Close"));
    standin::SetCell(sheet, "H1", std::string("Vol"));
    standin::SetCell(sheet, "I1", 5.0);
    const char* columns[] = {"G2", "H2", "I2"};
    for (unsigned c = 0; c < 3; ++c) {
      std::vector<double> walk = Walk(60, 11 + c);
      standin::SetColumn(sheet, columns[c], std::vector<Value>(walk.begin(), walk.end()));
    }
    standin::ProtectSheet(standin::AddSheet("Book1.xls", "Locked"), true);
    standin::Activate(sheet);
    standin::Select(sheet, "E5");
    return sheet;
  }

  static int Seen(const std::string& text) {
    int count = 0;
    for (const std::string& line : standin::Transcript()) {
      if (line.find(text) != std::string::npos) ++count;
    }
    return count;
  }

  static std::string Dump() {
    std::string all;
    for (const std::string& line : standin::Transcript()) all += line + "\n";
    return all;
  }
};

TEST_P(DialogChecks, ShowItsMessageThenTheDialogAgainAndChangeNothing) {
  const DialogCheck& c = GetParam();
  standin::SheetId sheet = Sheet();
  const std::string before = standin::CsvText(sheet);
  standin::QueueDialog({false, c.set, 0});
  standin::QueueDialog({false, {}, 0});  // "ALERT!": OK, back to the dialog
  standin::QueueDialog({true, {}, 0});   // then the person cancels
  try {
    standin::RunCommand(c.command);
  } catch (const standin::HostError& e) {
    ADD_FAILURE() << e.what();
  }
  EXPECT_EQ(Seen(std::string("dialog \"ALERT!\": ") + c.message), 1) << Dump();
  EXPECT_EQ(Seen(std::string("alert 3 \"") + c.aborted + "\""), 1) << Dump();
  EXPECT_EQ(standin::CsvText(sheet), before);
  EXPECT_EQ(standin::Selection(), "E5");
  if (c.goesOn) {
    EXPECT_EQ(Seen(kText), 1) << Dump();
    return;
  }
  const auto showings = standin::Showings();
  ASSERT_EQ(showings.size(), 3u) << Dump();
  // Shown again from the answer, with the focus on the box to correct.
  EXPECT_EQ(standin::Describe(showings[2].definition.at(0, 6)), std::to_string(c.focus))
      << Dump();
}

INSTANTIATE_TEST_SUITE_P(EveryTool, DialogChecks, ::testing::ValuesIn(EveryDialogCheck()),
                         CaseName());

}  // namespace
}  // namespace hvt::testing
