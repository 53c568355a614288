// Cell formats as runs of rows per column (SheetFormats in host.h).
#include <algorithm>
#include <queue>
#include <tuple>

#include "standin/host.h"

namespace standin {

CellFormat SheetFormats::At(int row, int column) const {
  auto c = columns_.find(column);
  if (c == columns_.end()) return CellFormat{};
  auto it = c->second.upper_bound(row);
  if (it == c->second.begin()) return CellFormat{};
  --it;
  return row <= it->second.last_row ? it->second.format : CellFormat{};
}

// Makes a run start at row when row falls inside a run.
void SheetFormats::SplitAt(Runs& runs, int row) {
  auto it = runs.upper_bound(row);
  if (it == runs.begin()) return;
  --it;
  if (it->first == row || it->second.last_row < row) return;
  Run tail{it->second.last_row, it->second.format};
  it->second.last_row = row - 1;
  runs.emplace(row, std::move(tail));
}

// Drops default runs and joins touching runs of one format, from the run
// before first_row to the run after last_row.
void SheetFormats::Tidy(Runs& runs, int first_row, int last_row) {
  auto it = runs.lower_bound(first_row);
  if (it != runs.begin()) --it;
  while (it != runs.end() && it->first <= last_row + 1) {
    if (it->second.format == CellFormat{}) {
      it = runs.erase(it);
      continue;
    }
    auto next = std::next(it);
    if (next != runs.end() && next->first == it->second.last_row + 1 &&
        next->second.format == it->second.format) {
      it->second.last_row = next->second.last_row;
      runs.erase(next);
      continue;
    }
    it = next;
  }
}

void SheetFormats::Apply(const Area& area, const std::function<void(CellFormat&)>& change) {
  for (int c = area.first_col; c <= area.last_col; ++c) {
    Runs& runs = columns_[c];
    SplitAt(runs, area.first_row);
    SplitAt(runs, area.last_row + 1);
    // Every row of the area now lies in a run of its own or in a gap: the
    // gaps get runs of the default format, then every run in the area changes.
    int row = area.first_row;
    auto it = runs.lower_bound(row);
    while (row <= area.last_row) {
      if (it != runs.end() && it->first == row) {
        change(it->second.format);
        row = it->second.last_row + 1;
        ++it;
        continue;
      }
      const int gap_end = it != runs.end() ? std::min(it->first - 1, area.last_row) : area.last_row;
      Run gap{gap_end, CellFormat{}};
      change(gap.format);
      runs.emplace_hint(it, row, std::move(gap));
      row = gap_end + 1;
    }
    Tidy(runs, area.first_row, area.last_row);
    if (runs.empty()) columns_.erase(c);
  }
}

void SheetFormats::Set(int row, int column, const CellFormat& format) {
  Apply(Area{row, row, column, column}, [&](CellFormat& f) { f = format; });
}

void SheetFormats::Clear(const Area& area) {
  for (auto c = columns_.lower_bound(area.first_col);
       c != columns_.end() && c->first <= area.last_col;) {
    Runs& runs = c->second;
    SplitAt(runs, area.first_row);
    SplitAt(runs, area.last_row + 1);
    runs.erase(runs.lower_bound(area.first_row), runs.upper_bound(area.last_row));
    c = runs.empty() ? columns_.erase(c) : std::next(c);
  }
}

bool SheetFormats::AllUnlocked(const Area& area) const {
  for (int c = area.first_col; c <= area.last_col; ++c) {
    auto column = columns_.find(c);
    if (column == columns_.end()) return false;  // never formatted: locked
    const Runs& runs = column->second;
    auto it = runs.upper_bound(area.first_row);
    if (it == runs.begin()) return false;
    --it;
    for (int row = area.first_row; row <= area.last_row; ++it) {
      // A row in no run has the default format, which is locked.
      if (it == runs.end() || it->first > row || it->second.last_row < row) return false;
      if (it->second.format.locked) return false;
      row = it->second.last_row + 1;
    }
  }
  return true;
}

void SheetFormats::ForEachFormatted(
    const std::function<void(int, int, const CellFormat&)>& visit) const {
  // Merge the columns' runs row by row: a queue of (row, column, run).
  using Position = std::tuple<int, int, Runs::const_iterator>;
  auto later = [](const Position& a, const Position& b) {
    return std::tie(std::get<0>(a), std::get<1>(a)) > std::tie(std::get<0>(b), std::get<1>(b));
  };
  std::priority_queue<Position, std::vector<Position>, decltype(later)> next(later);
  for (const auto& [column, runs] : columns_)
    if (!runs.empty()) next.emplace(runs.begin()->first, column, runs.begin());
  while (!next.empty()) {
    auto [row, column, run] = next.top();
    next.pop();
    visit(row, column, run->second.format);
    if (row < run->second.last_row) {
      next.emplace(row + 1, column, run);
    } else if (auto following = std::next(run); following != columns_.at(column).end()) {
      next.emplace(following->first, column, following);
    }
  }
}

}  // namespace standin
