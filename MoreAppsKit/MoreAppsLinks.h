#pragma once

#include <string>
#include <string_view>

#include "MoreAppsKit/MoreAppsConfig.h"
#include "MoreAppsKit/MoreAppsFeed.h"

namespace vistrel {

// Whether a campaign source may go into a link: an identifier of at most 60 characters
// (letters, digits, "-" and "_", not starting with "-"), so it needs no escaping.
bool isValidUtmSource(std::string_view utmSource);

// The address a row opens: the entry's own, with the campaign query added when it leads to the
// maker's site and the campaign source is valid; store pages unchanged.
std::string entryLink(const MoreAppsEntry& entry, const MoreAppsConfig& config);

// The maker's page of all its applications, with the campaign query (its utm_content "all").
std::string catalogueLink(const MoreAppsConfig& config);

}  // namespace vistrel
