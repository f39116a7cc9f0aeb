#include "Vistrel/gui/common/NetworkUse.h"

#include "MoreAppsKit/MoreAppsConfig.h"

namespace vistrel {

QString networkRequestsText() {
#ifdef VISTREL_UPDATE_CHECK
  const bool updateCheck = true;
#else
  const bool updateCheck = false;
#endif
  const bool otherApps = MoreAppsConfig::vistrel().allowsNetwork;
  if (updateCheck && otherApps)
    return QStringLiteral(
        "Vistrel's only network requests are the update check and the list of other apps.");
  if (updateCheck)
    return QStringLiteral("Vistrel's only network request is the update check.");
  if (otherApps)
    return QStringLiteral("Vistrel's only network request is the list of other apps.");
  return QStringLiteral("Vistrel makes no network requests.");
}

}  // namespace vistrel
