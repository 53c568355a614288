// The table of cores: each row wraps one core's settings, refusals and run
// in the shape every caller of the table expects.
#include "tools/cores.h"

#include <new>
#include <utility>

#include "tools/blk/blk_settings.h"
#include "tools/blk/core/blk.h"
#include "tools/decor/core/decor.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn_settings.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/klx/klx_settings.h"
#include "tools/spd/core/spd.h"
#include "tools/spd/spd_settings.h"

namespace hvt {
namespace {

constexpr const char* kNoMemory = "insufficient memory";

// A run that did not complete, in words: memory alike for every core, the
// rest as the core's own text says or the status's name.
CoreRun Ended(CoreStatus status, std::string why = {}) {
  if (status == CoreStatus::kOutOfMemory) why = kNoMemory;
  if (why.empty()) why = CoreStatusText(status);
  return {status, std::move(why)};
}

CoreRun Complete() { return {CoreStatus::kComplete, {}}; }

// A core's run with the table's allocations made safe: a failed one ends the
// run as the core's own would.
template <typename Run>
CoreRun Guarded(Run run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    return Ended(CoreStatus::kOutOfMemory);
  }
}

// One column of every row, for the cores that answer the rows they write.
CoreBlock Column(std::vector<double> values) {
  CoreBlock block;
  block.values = std::move(values);
  return block;
}

// --- KLX and PQE ------------------------------------------------------------

const CoreOption kKlxOptions[] = {
    {.flag = "--smoothness", .help = "smoothness S", .number = &CoreSettings::smoothness},
    {.flag = "--phase", .help = "phase P", .number = &CoreSettings::phase},
};

const char* KlxRefusal(const CoreSettings& s, long) {
  return klx::SettingsRefusal(s.smoothness, s.phase);
}

std::size_t KlxFirstRow(const CoreSettings& s) {
  return klx::KlxFirstDefinedRow({.smoothness = s.smoothness, .phase = s.phase});
}

CoreRun RunKlx(const CoreSettings& s, CoreColumns columns, CoreAnswer& answer,
               RunObserver* observer) {
  return Guarded([&] {
    std::vector<double> y(columns[0].size());
    const CoreStatus status =
        klx::KlxFilter(columns[0], {.smoothness = s.smoothness, .phase = s.phase}, y, observer);
    if (status != CoreStatus::kComplete) return Ended(status);
    answer.blocks.push_back(Column(std::move(y)));
    return Complete();
  });
}

const CoreOption kPqeOptions[] = {
    {.flag = "--smoothness", .help = "smoothness", .number = &CoreSettings::smoothness},
};

const char* PqeRefusal(const CoreSettings& s, long) {
  return klx::SmoothnessAccepted(s.smoothness) ? nullptr : klx::kSmoothnessRange;
}

std::size_t PqeFirstRow(const CoreSettings& s) {
  return klx::PqeFirstDefinedRow({.smoothness = s.smoothness});
}

CoreRun RunPqe(const CoreSettings& s, CoreColumns columns, CoreAnswer& answer,
               RunObserver* observer) {
  return Guarded([&] {
    std::vector<double> y(columns[0].size());
    const CoreStatus status =
        klx::PqeFilter(columns[0], {.smoothness = s.smoothness}, y, observer);
    if (status != CoreStatus::kComplete) return Ended(status);
    answer.blocks.push_back(Column(std::move(y)));
    return Complete();
  });
}

// --- GTN --------------------------------------------------------------------

const CoreOption kGtnOptions[] = {
    {.flag = "--span", .help = "24, 48, 96 or 192", .whole = &CoreSettings::span},
    {.flag = "--smoothness", .help = "2..50", .whole = &CoreSettings::gtnSmoothness},
    {.flag = "--order", .help = "term order: command or worksheet", .text = &CoreSettings::order},
};

const char* GtnRefusal(const CoreSettings& s, long rows) {
  if (s.order != "command" && s.order != "worksheet") {
    return "--order must be command or worksheet";
  }
  return gtn::SettingsRefusal(rows, s.gtnSmoothness, s.span);
}

gtn::GtnSettings GtnSettingsOf(const CoreSettings& s) {
  return {.span = s.span,
          .smoothness = s.gtnSmoothness,
          .order = s.order == "command" ? gtn::GtnTermOrder::CommandOrder
                                        : gtn::GtnTermOrder::WorksheetOrder};
}

std::size_t GtnFirstRow(const CoreSettings& s) {
  return gtn::GtnFirstDefinedRow(GtnSettingsOf(s));
}

CoreRun RunGtn(const CoreSettings& s, CoreColumns columns, CoreAnswer& answer,
               RunObserver* observer) {
  return Guarded([&] {
    std::vector<double> y(columns[0].size());
    const CoreStatus status = gtn::GtnSeries(columns[0], GtnSettingsOf(s), y, observer);
    switch (status) {
      case CoreStatus::kComplete:
        y.erase(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(GtnFirstRow(s)));
        answer.blocks.push_back(Column(std::move(y)));
        return Complete();
      case CoreStatus::kTooShort:
        return Ended(status, "GTN needs at least " + std::to_string(gtn::GtnMinRows(s.span)) +
                                 " rows for span " + std::to_string(s.span));
      case CoreStatus::kBadArgument:
        return Ended(status, "--span must be 24, 48, 96 or 192 and --smoothness 2..50");
      default:
        return Ended(status);
    }
  });
}

// --- SPD --------------------------------------------------------------------

const CoreOption kSpdOptions[] = {
    {.flag = "--depth", .help = "2..500", .whole = &CoreSettings::depth},
};

const char* SpdRefusal(const CoreSettings& s, long rows) {
  return spd::SettingsRefusal(rows, s.depth);
}

std::size_t SpdFirstRow(const CoreSettings& s) {
  return spd::SpdFirstDefinedRow({.depth = s.depth});
}

CoreRun RunSpd(const CoreSettings& s, CoreColumns columns, CoreAnswer& answer,
               RunObserver* observer) {
  return Guarded([&] {
    std::vector<double> out(columns[0].size());
    const CoreStatus status = spd::SpdSeries(columns[0], {.depth = s.depth}, out, observer);
    switch (status) {
      case CoreStatus::kComplete:
        answer.blocks.push_back(Column(std::move(out)));
        return Complete();
      case CoreStatus::kTooShort:
        return Ended(status, "SPD needs at least " + std::to_string(spd::SpdMinRows(s.depth)) +
                                 " rows for depth " + std::to_string(s.depth));
      case CoreStatus::kBadArgument:
        return Ended(status, "--depth must lie between 2 and 500");
      default:
        return Ended(status);
    }
  });
}

// --- BLK --------------------------------------------------------------------

const CoreOption kBlkOptions[] = {
    {.flag = "--index", .help = "sample-table index 1..18", .whole = &CoreSettings::index},
    {.flag = "--method",
     .help = "1 standard, 2 standard and detrended, 3 detrended only",
     .whole = &CoreSettings::method},
    {.flag = "--norm", .help = "1 normalized, 2 not normalized", .whole = &CoreSettings::norm},
};

const char* BlkRefusal(const CoreSettings& s, long) {
  return blk::BlkSettingsRefusal(s.method, s.norm, s.index);
}

std::size_t BlkFirstRow(const CoreSettings& s) {
  return blk::BlkFirstDefinedRow({s.index, s.method, s.norm});
}

// Every output column under its title suffix, one row per data row from U.
CoreRun RunBlk(const CoreSettings& s, CoreColumns columns, CoreAnswer& answer,
               RunObserver* observer) {
  return Guarded([&] {
    const blk::BlkSettings settings{s.index, s.method, s.norm};
    const std::size_t first = blk::BlkFirstDefinedRow(settings);
    const std::size_t rows =
        !columns.empty() && columns[0].size() > first ? columns[0].size() - first : 0;
    const std::vector<blk::BlkColumnLayout> plan =
        blk::BlkOutputPlan(static_cast<int>(columns.size()), settings);
    std::vector<std::vector<double>> outputs(plan.size(), std::vector<double>(rows));
    const std::vector<std::span<double>> spans(outputs.begin(), outputs.end());
    const CoreStatus status = blk::BlkBlocks(columns, settings, spans, observer);
    if (status == CoreStatus::kTooShort) {
      return Ended(status, "BLK: too few data rows for this index");
    }
    if (status != CoreStatus::kComplete) {
      return Ended(status, std::string("BLK: ") + CoreStatusText(status));
    }
    CoreBlock block;
    block.columns = plan.size();
    block.values.reserve(rows * plan.size());
    for (std::size_t r = 0; r < rows; ++r) {
      for (const std::vector<double>& output : outputs) block.values.push_back(output[r]);
    }
    for (const blk::BlkColumnLayout& layout : plan) answer.titles.push_back(layout.suffix);
    answer.blocks.push_back(std::move(block));
    return Complete();
  });
}

// --- Decorrelator -----------------------------------------------------------

const char* DecorRefusal(const CoreSettings&, long) { return nullptr; }

std::size_t DecorFirstRow(const CoreSettings&) {
  return decor::DecorFirstDefinedRow({});
}

CoreBlock Block(std::string heading, std::size_t columns, std::vector<double> values) {
  CoreBlock block;
  block.heading = std::move(heading);
  block.columns = columns;
  block.values = std::move(values);
  return block;
}

// Scores x 1,000, significance, coefficients, means and sigmas, each a block.
CoreRun RunDecor(const CoreSettings&, CoreColumns columns, CoreAnswer& answer,
                 RunObserver* observer) {
  return Guarded([&] {
    const std::size_t cols = columns.size();
    const std::size_t rows = cols == 0 ? 0 : columns[0].size();
    std::vector<double> data;
    data.reserve(rows * cols);
    for (const auto& column : columns) data.insert(data.end(), column.begin(), column.end());
    std::vector<double> scores(rows * cols), significance(cols), coefficients(cols * cols),
        means(cols), sigmas(cols);
    decor::DecorRun r = decor::Decorrelate(data, rows, cols, {decor::Layout::kColumnMajor},
                                           {scores, significance, coefficients, means, sigmas},
                                           observer);
    switch (r.status) {
      case CoreStatus::kComplete:
        break;
      case CoreStatus::kNotConverged:
        return Ended(r.status, "the decomposition did not converge (singular value " +
                                   std::to_string(r.failIndex) + ")");
      case CoreStatus::kNoVariation:
        return Ended(r.status, "the columns do not vary: nothing to decorrelate");
      case CoreStatus::kOutOfMemory:
        return Ended(r.status);
      default:
        return Ended(r.status, "the data cannot be decorrelated");
    }
    answer.blocks.push_back(Block("scores", cols, std::move(scores)));
    answer.blocks.push_back(Block("significance", cols, std::move(significance)));
    answer.blocks.push_back(Block("coefficients", cols, std::move(coefficients)));
    answer.blocks.push_back(Block("means", cols, std::move(means)));
    answer.blocks.push_back(Block("sigmas", cols, std::move(sigmas)));
    return Complete();
  });
}

const CoreEntry kCores[] = {
    {"klx", "KLX filter: every output row", false, kKlxOptions, KlxRefusal, KlxFirstRow, RunKlx},
    {"pqe", "PQE filter: rows 0..29 the input, then filtered", false, kPqeOptions, PqeRefusal,
     PqeFirstRow, RunPqe},
    {"gtn", "GTN series: rows span+6 .. n-1", false, kGtnOptions, GtnRefusal, GtnFirstRow,
     RunGtn},
    {"spd", "SPD rate of change: every row", false, kSpdOptions, SpdRefusal, SpdFirstRow, RunSpd},
    {"blk", "BLK block columns: rows U..N-1 under their title suffixes", true, kBlkOptions,
     BlkRefusal, BlkFirstRow, RunBlk},
    {"decor", "Decorrelator: scores x 1,000, significance, coefficients, means, sigmas", true,
     {}, DecorRefusal, DecorFirstRow, RunDecor},
};

}  // namespace

std::span<const CoreEntry> Cores() { return kCores; }

const CoreEntry* FindCore(std::string_view name) {
  for (const CoreEntry& entry : kCores) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace hvt
