// The other-apps feed comes from the network: validation must never crash, and a feed it
// accepts must keep every promise the list and its links rely on.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>

#include "MoreAppsKit/MoreAppsAddress.h"
#include "MoreAppsKit/MoreAppsFeed.h"
#include "MoreAppsKit/MoreAppsLinks.h"
#include "MoreAppsKit/MoreAppsList.h"
#include "MoreAppsKit/MoreAppsSite.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

namespace {

nlohmann::json encode(const MoreAppsFeed& feed) {
  nlohmann::json apps = nlohmann::json::array();
  for (const MoreAppsEntry& entry : feed.apps) {
    nlohmann::json object = {{"id", entry.id},         {"name", entry.name},
                             {"detail", entry.detail}, {"symbol", entry.symbol},
                             {"tint", entry.tint},     {"url", entry.url}};
    if (entry.bundleId)
      object["bundleId"] = *entry.bundleId;
    for (const auto& [language, texts] : entry.localized) {
      nlohmann::json record = nlohmann::json::object();
      if (texts.name)
        record["name"] = *texts.name;
      if (texts.detail)
        record["detail"] = *texts.detail;
      object["localized"][language] = record;
    }
    apps.push_back(object);
  }
  return {{"schema", feed.schema}, {"apps", apps}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const MoreAppsValidation result = validate(bytes);
  if (const auto* error = std::get_if<MoreAppsError>(&result)) {
    FUZZ_CHECK(!error->description().empty());
    FUZZ_CHECK((error->kind() == MoreAppsError::Kind::tooLarge) == (size > moreAppsMaxFeedBytes));
    return 0;
  }
  const MoreAppsFeed& feed = std::get<MoreAppsFeed>(result);
  FUZZ_CHECK(size <= moreAppsMaxFeedBytes);
  FUZZ_CHECK(feed.schema == 1);
  FUZZ_CHECK(!feed.apps.empty() && feed.apps.size() <= 60);
  std::set<std::string> ids;
  const MoreAppsConfig config{"vistrel", "vistrel", false, "com.tevrin77.Vistrel", true};
  for (const MoreAppsEntry& entry : feed.apps) {
    FUZZ_CHECK(ids.insert(entry.id).second);
    FUZZ_CHECK(isAllowedEntryAddress(entry.url, moreAppsSite().siteHost, "flathub.org"));
    // A link adds at most the campaign query, and never to an address that had one.
    const std::string link = entryLink(entry, config);
    FUZZ_CHECK(link.compare(0, entry.url.size(), entry.url) == 0);
    FUZZ_CHECK(entry.url.find('?') == std::string::npos);
  }
  // Only store pages for a store build; never this application.
  for (const MoreAppsEntry& entry : filterForApp(feed, config)) {
    FUZZ_CHECK(entry.id != config.thisApp);
    FUZZ_CHECK(MoreAppsAddress::parse(entry.url)->host == "flathub.org");
  }
  // What was accepted, written out again, is accepted as the same feed.
  const MoreAppsValidation again = validate(encode(feed).dump());
  FUZZ_CHECK(std::holds_alternative<MoreAppsFeed>(again));
  FUZZ_CHECK(std::get<MoreAppsFeed>(again) == feed);
  return 0;
}
