#include "VistrelKit/library/Retention.h"

#include <algorithm>

namespace vistrel::Retention {

std::vector<std::int64_t> select(std::vector<FrameStamp> stamps, const RetentionPolicy& policy,
                                 Date now) {
  std::sort(stamps.begin(), stamps.end(), [](const FrameStamp& a, const FrameStamp& b) {
    return a.date != b.date ? a.date < b.date : a.id < b.id;
  });
  const int days = std::max(policy.days, 1);
  const Date cutoff = now - Seconds(static_cast<double>(days) * 86400.0);

  std::vector<std::int64_t> selected;
  std::vector<FrameStamp> kept;
  for (const FrameStamp& stamp : stamps) {
    if (stamp.date < cutoff) {
      selected.push_back(stamp.id);
    } else {
      kept.push_back(stamp);
    }
  }

  std::int64_t sum = 0;
  for (const FrameStamp& stamp : kept) {
    sum += stamp.bytes;
  }
  for (const FrameStamp& stamp : kept) {
    if (sum <= policy.capBytes) {
      break;
    }
    selected.push_back(stamp.id);
    sum -= stamp.bytes;
  }
  return selected;
}

}  // namespace vistrel::Retention
