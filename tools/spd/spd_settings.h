// The SPD macro's depth and the rows it needs: the texts that refuse them,
// in one place for the add-in and the hvt command. Counted strings
// (placeholder length byte), as the macro's alert takes them.
#ifndef HVT_TOOLS_SPD_SPD_SETTINGS_H
#define HVT_TOOLS_SPD_SPD_SETTINGS_H

#include <algorithm>

#include "tools/spd/core/spd.h"

namespace hvt::spd {

inline char g_rowCount[] =
    " Your requested data set cannot have less than 32 rows, nor can it have "
    "more rows than the spreadsheet can contain!";
inline char g_depthRange[] = " Your Depth value must be between 2 and 500.";

constexpr long kMacroMinRows = 32;

constexpr bool DepthAccepted(int depth) { return depth >= kMinDepth && depth <= kMaxDepth; }

// The macro's first refusal of these rows and this depth, in its order, as
// plain text; nullptr when it takes them.
inline const char* SettingsRefusal(long rows, int depth) {
  if (rows < std::max<long>(depth, kMacroMinRows)) return g_rowCount + 1;
  if (!DepthAccepted(depth)) return g_depthRange + 1;
  return nullptr;
}

}  // namespace hvt::spd

#endif  // HVT_TOOLS_SPD_SPD_SETTINGS_H
