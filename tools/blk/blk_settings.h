// The BLK macro's process method, normalization and sample-table index: the
// texts that refuse them, in one place for the add-in and the hvt command.
#ifndef HVT_TOOLS_BLK_BLK_SETTINGS_H
#define HVT_TOOLS_BLK_BLK_SETTINGS_H

#include "tools/blk/core/blk.h"

namespace hvt::blk {

// The macro's first refusal of these settings, in its order, as plain text;
// nullptr when it takes them. The normalization counts only when detrending.
inline const char* BlkSettingsRefusal(int method, int normalization, int mnIndex) {
  const bool detrending = method == kBlkStandardAndDetrended || method == kBlkDetrendedOnly;
  if (detrending && normalization != kBlkNormalized && normalization != kBlkNotNormalized)
    return "Error! Your Normalization parameter must be 1 or 2!";
  if (method < kBlkStandardOnly || method > kBlkDetrendedOnly)
    return "Error! Your Process Method parameter must be 1,2, or 3.";
  if (mnIndex <= 0) return "Your N and M parameter must be greater than 0!";
  if (mnIndex > kBlkMaxIndex)
    return "Your N and M index parameter is too large! It must not be more than 18; N can be "
           "no more than 334.";
  if (detrending && normalization == kBlkNotNormalized && mnIndex < kBlkMinDetrendedIndex)
    return "Your N and M index parameter is too small! It must be at least 10 when you are "
           "detrending; N must be at least 26.";
  if (detrending && normalization == kBlkNormalized && mnIndex < kBlkMinNormalizedIndex)
    return "Your N and M index parameter is too small! It must be at least 12 when you are "
           "detrending and normalizing; N must be at least 48.";
  return nullptr;
}

}  // namespace hvt::blk

#endif  // HVT_TOOLS_BLK_BLK_SETTINGS_H
