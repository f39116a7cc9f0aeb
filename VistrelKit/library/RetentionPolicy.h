#pragma once

#include <cstdint>

namespace vistrel {

// The cleanup limits handed in by the application.
struct RetentionPolicy {
  int days = 30;  // keep frames this many days; values below 1 count as 1
  std::int64_t capBytes = 0;  // upper bound for the sum of the kept frames' bytes

  friend bool operator==(const RetentionPolicy&, const RetentionPolicy&) = default;
};

}  // namespace vistrel
