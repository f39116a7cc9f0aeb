#include "VistrelKit/settings/VistrelConfig.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vistrel {

namespace {

constexpr double minimumInterval = 2.0;
constexpr double maximumInterval = 60.0;
constexpr double minimumCapGB = 0.25;
constexpr double bytesPerGB = 1073741824.0;

}  // namespace

double VistrelConfig::captureInterval() const {
  // A NaN can only come from code, never from the file or the screens; waiting NaN seconds
  // would stall the loop, so it counts as the default.
  if (std::isnan(interval))
    return VistrelConfig{}.interval;
  return std::clamp(interval, minimumInterval, maximumInterval);
}

std::int64_t VistrelConfig::capBytes() const {
  const double gigabytes = capGB > minimumCapGB ? capGB : minimumCapGB;
  const double bytes = std::trunc(gigabytes * bytesPerGB);
  // 2^63 is exactly representable; anything at or above it would overflow the conversion.
  constexpr double limit = 9223372036854775808.0;
  if (bytes >= limit)
    return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(bytes);
}

RetentionPolicy VistrelConfig::retention() const {
  return RetentionPolicy{std::max(retentionDays, 1), capBytes()};
}

ExclusionRules VistrelConfig::exclusionRules(std::optional<std::string> ownBundleID) const {
  return ExclusionRules(excludedApps, excludedTitleWords, skipPrivateWindows, skipSecureInput,
                        std::move(ownBundleID));
}

bool VistrelConfig::isPaused(Date moment) const {
  return pausedUntil.has_value() && *pausedUntil > moment;
}

}  // namespace vistrel
