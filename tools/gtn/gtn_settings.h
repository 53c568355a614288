// The GTN macro's smoothness and span and the rows they need: the texts that
// refuse them, in one place for the add-in and the hvt command. Counted
// strings (placeholder length byte), as the macro's alert takes them.
#ifndef HVT_TOOLS_GTN_GTN_SETTINGS_H
#define HVT_TOOLS_GTN_GTN_SETTINGS_H

#include "tools/gtn/core/gtn.h"

namespace hvt::gtn {

inline char g_rowCount[] =
    " Your data set cannot have less than 32 rows, nor can it have more rows "
    "than the spreadsheet can contain!";
inline char g_smoothnessRange[] = " Your Smoothness value must be between 2 and 50.";
inline char g_spanValue[] = " Your Span value must be 24, 48, 96 or 192.";
inline char g_spanRows[] =
    " Your data set must have at least 2 more values than the Span you "
    "selected.";

constexpr long kMacroMinRows = 32;

constexpr bool SmoothnessAccepted(int smoothness) {
  return smoothness >= kMinSmoothness && smoothness <= kMaxSmoothness;
}

// The macro's first refusal of these rows and settings, in its order, as
// plain text; nullptr when it takes them.
inline const char* SettingsRefusal(long rows, int smoothness, int span) {
  if (rows < kMacroMinRows) return g_rowCount + 1;
  if (!SmoothnessAccepted(smoothness)) return g_smoothnessRange + 1;
  if (!IsValidSpan(span)) return g_spanValue + 1;
  if (rows < span + 2L) return g_spanRows + 1;
  return nullptr;
}

}  // namespace hvt::gtn

#endif  // HVT_TOOLS_GTN_GTN_SETTINGS_H
