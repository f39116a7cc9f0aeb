#include "MoreAppsKit/MoreAppsConfig.h"

#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel {

MoreAppsConfig MoreAppsConfig::vistrel() {
  return {"vistrel", moreAppsSite().utmSource, VISTREL_MORE_APPS_DIRECT != 0,
          "com.tevrin77.Vistrel", VISTREL_NETWORK_FEATURES != 0};
}

}  // namespace vistrel
