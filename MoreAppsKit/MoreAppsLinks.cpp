#include "MoreAppsKit/MoreAppsLinks.h"

#include <algorithm>
#include <optional>

#include "MoreAppsKit/MoreAppsAddress.h"
#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel {
namespace {

std::string campaignQuery(const std::string& utmSource) {
  return "utm_source=" + utmSource + "&utm_medium=linux-app&utm_campaign=more-apps";
}

}  // namespace

bool isValidUtmSource(std::string_view utmSource) {
  return !utmSource.empty() && utmSource.size() <= 60 && utmSource[0] != '-' &&
         std::all_of(utmSource.begin(), utmSource.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

std::string entryLink(const MoreAppsEntry& entry, const MoreAppsConfig& config) {
  const std::optional<MoreAppsAddress> address = MoreAppsAddress::parse(entry.url);
  if (!address || !isSiteHost(address->host, moreAppsSite().siteHost) ||
      !isValidUtmSource(config.utmSource))
    return entry.url;
  return entry.url + "?" + campaignQuery(config.utmSource);
}

std::string catalogueLink(const MoreAppsConfig& config) {
  if (!isValidUtmSource(config.utmSource))
    return moreAppsSite().catalogueURL;
  return moreAppsSite().catalogueURL + "?" + campaignQuery(config.utmSource) + "&utm_content=all";
}

}  // namespace vistrel
