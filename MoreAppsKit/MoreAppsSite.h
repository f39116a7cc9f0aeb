#pragma once

#include <string>

namespace vistrel {

// Where the maker publishes: fixed when the product is built (CMake cache variables
// VISTREL_MORE_APPS_SITE_HOST, VISTREL_MORE_APPS_FEED_URL, VISTREL_MORE_APPS_CATALOGUE_URL,
// VISTREL_MORE_APPS_UTM_SOURCE).
struct MoreAppsSite {
  // The maker's web site, lowercase, without "www."; its "www." form is accepted too.
  std::string siteHost;
  // The store's web host; its subdomains are accepted too.
  std::string storeHost;
  // The feed's HTTPS address.
  std::string feedURL;
  // The maker's page of all its applications.
  std::string catalogueURL;
  // The campaign source put into links to the maker's site.
  std::string utmSource;
};

// The build's configuration.
const MoreAppsSite& moreAppsSite();

}  // namespace vistrel
