#pragma once

#include <cstdint>
#include <vector>

#include "VistrelKit/base/Date.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/library/RetentionPolicy.h"

// Which frames cleanup removes. Pure; reads nothing but its arguments.
namespace vistrel::Retention {

// The identifiers of the frames taken before now minus the retention period (oldest first),
// followed by the oldest of the remaining frames until the rest fits under the cap. Frames with
// equal dates count the lower identifier as older.
std::vector<std::int64_t> select(std::vector<FrameStamp> stamps, const RetentionPolicy& policy,
                                 Date now);

}  // namespace vistrel::Retention
