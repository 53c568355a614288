// The promise every column command's dialog keeps, over one table of its
// checks per tool: a failed check shows its message in the "ALERT!" box, OK
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

std::vector<DialogCheck> Checks() {
  const char* klx = "KLXWrapper";
  const char* klxAborted = "KLX Aborted!";
  const char* gtn = "GTN";
  const char* gtnAborted = "GTN Aborted!";
  const char* spd = "SpdWrapper";
  const char* spdAborted = "SPD_32.XLL Aborted!";
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
  };
}

class DialogChecks : public AddInTest, public ::testing::WithParamInterface<DialogCheck> {
 protected:
  // A walk in A1:A100, text among the first cells of F1:F40, column E empty,
  // E5 selected.
  standin::SheetId Sheet() {
    standin::SheetId sheet = SheetWithColumn(Walk(100));
    standin::SetColumn(sheet, "F1", {Value{1.0}, Value{2.0}, Value{std::string("x")},
                                     Value{4.0}, Value{5.0}});
    standin::SetColumn(sheet, "F6", std::vector<Value>(35, Value{1.0}));
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
  EXPECT_EQ(standin::Describe(showings[2].definition.at(0, 6)), std::to_string(c.focus));
}

INSTANTIATE_TEST_SUITE_P(EveryTool, DialogChecks, ::testing::ValuesIn(Checks()),
                         [](const ::testing::TestParamInfo<DialogCheck>& info) {
                           std::string name;
                           for (char c : info.param.name) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace hvt::testing
