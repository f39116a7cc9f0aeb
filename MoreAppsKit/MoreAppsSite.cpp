#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel {

const MoreAppsSite& moreAppsSite() {
  static const MoreAppsSite site{VISTREL_MORE_APPS_SITE_HOST, "flathub.org",
                                 VISTREL_MORE_APPS_FEED_URL, VISTREL_MORE_APPS_CATALOGUE_URL,
                                 VISTREL_MORE_APPS_UTM_SOURCE};
  return site;
}

}  // namespace vistrel
