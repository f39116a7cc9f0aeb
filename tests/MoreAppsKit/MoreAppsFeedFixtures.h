#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel::testing {

// A page of the maker's site, as the build configures it.
inline std::string sitePage(const std::string& path) {
  return "https://" + moreAppsSite().siteHost + "/" + path;
}

inline std::string storePage(const std::string& appID) {
  return "https://flathub.org/apps/" + appID;
}

inline nlohmann::json feedEntry(const std::string& id) {
  return {{"id", id},
          {"name", "App " + id},
          {"detail", "What " + id + " does."},
          {"symbol", "accessories-text-editor"},
          {"tint", "blue"},
          {"url", sitePage(id)}};
}

inline nlohmann::json feedWith(nlohmann::json apps) {
  return {{"schema", 1}, {"apps", std::move(apps)}};
}

inline std::string feedText(const nlohmann::json& feed) {
  return feed.dump();
}

}  // namespace vistrel::testing
