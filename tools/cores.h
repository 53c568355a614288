// The computation cores as one table. Each row names a core, the settings it
// takes, the refusals of those settings the add-in gives, and a run over a
// table of numeric columns. `hvt core`, the benchmarks and the core test
// runner all go through it, so a core added here is offered, timed and
// tested alike.
#ifndef HVT_TOOLS_CORES_H
#define HVT_TOOLS_CORES_H

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/core.h"

namespace hvt {

// Every setting a core of the table takes, with the defaults `hvt core`
// shows; each core reads its own.
struct CoreSettings {
  double smoothness = 10;           // KLX and PQE
  double phase = 0;                 // KLX
  int gtnSmoothness = 10;           // GTN: 2..50
  int span = 24;                    // GTN: 24, 48, 96 or 192
  std::string order = "worksheet";  // GTN's term order: command or worksheet
  int depth = 10;                   // SPD: 2..500
  int index = 6;                    // BLK: sample-table index 1..18
  int method = 1;                   // BLK: 1 standard, 2 both, 3 detrended
  int norm = 1;                     // BLK: 1 normalized, 2 not
};

// One setting as a command line offers it: exactly one of the three members
// is set, by the type of the value.
struct CoreOption {
  const char* flag;  // "--smoothness"
  const char* help;
  double CoreSettings::*number = nullptr;
  int CoreSettings::*whole = nullptr;
  std::string CoreSettings::*text = nullptr;
};

// A block of a run's answer: rows of `columns` numbers, row-major, under a
// heading when the core answers more than one block.
struct CoreBlock {
  std::string heading;
  std::size_t columns = 1;
  std::vector<double> values;

  std::size_t rows() const { return columns == 0 ? 0 : values.size() / columns; }
};

// What a complete run answers: its blocks, and a title per column when the
// core names its columns.
struct CoreAnswer {
  std::vector<std::string> titles;
  std::vector<CoreBlock> blocks;
};

// How a run ended; `why` says it in words when it did not complete.
struct CoreRun {
  CoreStatus status = CoreStatus::kBadArgument;
  std::string why;
};

// Equally long numeric columns, oldest row first.
using CoreColumns = std::span<const std::span<const double>>;

// Rows to pass a refusal check when the data are not read yet.
inline constexpr long kAnyRows = std::numeric_limits<long>::max();

struct CoreEntry {
  std::string_view name;  // "klx"
  const char* help;
  bool everyColumn;  // reads every column; else only the first
  std::span<const CoreOption> options;
  // The add-in's first refusal of the settings for data of `rows` rows, as
  // plain text; nullptr when it takes them.
  const char* (*refusal)(const CoreSettings& settings, long rows);
  // The first row of the data the answer's rows begin at.
  std::size_t (*firstDefinedRow)(const CoreSettings& settings);
  // The core over the columns; `answer` is filled only on kComplete.
  CoreRun (*run)(const CoreSettings& settings, CoreColumns columns, CoreAnswer& answer,
                 RunObserver* observer);
};

// The table, in the order `hvt core` lists the cores.
std::span<const CoreEntry> Cores();

// The entry named `name`, or nullptr.
const CoreEntry* FindCore(std::string_view name);

}  // namespace hvt

#endif  // HVT_TOOLS_CORES_H
