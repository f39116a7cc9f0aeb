#include "MoreAppsKit/MoreAppsBundled.h"

#include "MoreAppsKit/MoreAppsBundledData.h"

namespace vistrel {

std::optional<std::string> moreAppsBundledFeed() {
  return std::string(reinterpret_cast<const char*>(moreAppsBundledBytes),
                     sizeof moreAppsBundledBytes);
}

}  // namespace vistrel
