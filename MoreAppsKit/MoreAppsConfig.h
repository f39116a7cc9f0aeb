#pragma once

#include <optional>
#include <string>

namespace vistrel {

// What the list needs to know about the application showing it. Fixed per build.
struct MoreAppsConfig {
  // This application's id in the feed: its entry is never listed.
  std::string thisApp;
  // The campaign source of links to the maker's site.
  std::string utmSource;
  // True for a build from source, which lists every other application; a store build lists only
  // the applications in the store.
  bool isDirect = true;
  // This application's ID: an entry with it is never listed.
  std::optional<std::string> bundleID;
  // False when the build turns network features off: the list then shows the cached or shipped
  // copy only.
  bool allowsNetwork = true;

  // Vistrel's values from the build (VISTREL_MORE_APPS_DIRECT, VISTREL_NETWORK_FEATURES).
  static MoreAppsConfig vistrel();
};

}  // namespace vistrel
