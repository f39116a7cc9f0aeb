#include <gtest/gtest.h>

#include <fstream>

#include "MoreAppsKit/MoreAppsBundled.h"
#include "MoreAppsKit/MoreAppsLinks.h"
#include "MoreAppsKit/MoreAppsList.h"
#include "tests/MoreAppsKit/MoreAppsFeedFixtures.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::feedEntry;
using testing::feedText;
using testing::feedWith;
using testing::sitePage;
using testing::storePage;

std::vector<std::string> ids(const std::vector<MoreAppsEntry>& entries) {
  std::vector<std::string> result;
  for (const MoreAppsEntry& entry : entries)
    result.push_back(entry.id);
  return result;
}

MoreAppsConfig configFor(bool isDirect, bool allowsNetwork = true) {
  return {"vistrel", "vistrel", isDirect, "com.tevrin77.Vistrel", allowsNetwork};
}

// A feed with this application (by id and by application ID), one store entry and one site entry.
MoreAppsFeed mixedFeed() {
  json self = feedEntry("vistrel");
  json sameBundle = feedEntry("vistrel-old");
  sameBundle["bundleId"] = "com.tevrin77.Vistrel";
  json store = feedEntry("notes");
  store["url"] = storePage("com.tevrin77.Notes");
  const MoreAppsValidation result =
      validate(feedText(feedWith({self, store, sameBundle, feedEntry("tasks")})));
  return std::get<MoreAppsFeed>(result);
}

TEST(MoreAppsFilter, NeverListsThisApplicationAndAStoreBuildOnlyTheStore) {
  EXPECT_EQ(ids(filterForApp(mixedFeed(), configFor(true))),
            (std::vector<std::string>{"notes", "tasks"}));
  EXPECT_EQ(ids(filterForApp(mixedFeed(), configFor(false))), std::vector<std::string>{"notes"});
}

class MoreAppsListTest : public ::testing::Test {
 protected:
  MoreAppsLoader loader(std::optional<std::string> bundled = std::nullopt) {
    return {"https://feeds.example.net/more-apps.json", folder_.path(),
            [bundled] { return bundled; }, [] { return std::chrono::system_clock::now(); },
            [this](const MoreAppsRequest&) {
              ++requests_;
              return answer_;
            }};
  }
  void writeCache(const std::string& bytes) {
    std::ofstream(folder_.path() / "more-apps.json") << bytes;
  }

  testing::TemporaryFolder folder_;
  MoreAppsChoice choice_;
  int requests_ = 0;
  std::optional<MoreAppsResponse> answer_;
};

TEST_F(MoreAppsListTest, StartsFromTheCacheThenTheShippedCopyThenNothing) {
  const std::string shipped = feedText(feedWith({feedEntry("shipped")}));
  EXPECT_EQ(MoreAppsList(configFor(true), loader(), nullptr).source(), MoreAppsSource::none);
  EXPECT_TRUE(MoreAppsList(configFor(true), loader(), nullptr).apps().empty());
  EXPECT_EQ(MoreAppsList(configFor(true), loader("{broken"), nullptr).source(),
            MoreAppsSource::none);

  const MoreAppsList fromShipped(configFor(true), loader(shipped), nullptr);
  EXPECT_EQ(fromShipped.source(), MoreAppsSource::bundled);
  EXPECT_EQ(ids(fromShipped.apps()), std::vector<std::string>{"shipped"});

  writeCache(feedText(feedWith({feedEntry("cached")})));
  const MoreAppsList fromCache(configFor(true), loader(shipped), nullptr);
  EXPECT_EQ(fromCache.source(), MoreAppsSource::cache);
  EXPECT_EQ(ids(fromCache.apps()), std::vector<std::string>{"cached"});

  writeCache("{\"schema\": 1, \"apps\": []}");
  EXPECT_EQ(MoreAppsList(configFor(true), loader(shipped), nullptr).source(),
            MoreAppsSource::bundled);
  EXPECT_EQ(requests_, 0);
}

TEST_F(MoreAppsListTest, TheProcessKeepsItsChoice) {
  writeCache(feedText(feedWith({feedEntry("cached")})));
  MoreAppsList first(configFor(true), loader(), &choice_);
  answer_ = MoreAppsResponse{"https://feeds.example.net/more-apps.json",
                             200,
                             {},
                             feedText(feedWith({feedEntry("fresh"), feedEntry("vistrel")}))};
  EXPECT_TRUE(first.refresh());
  EXPECT_EQ(first.source(), MoreAppsSource::network);
  EXPECT_EQ(ids(first.apps()), std::vector<std::string>{"fresh"});

  // The cache now holds the fresh feed too; the choice says where it first came from.
  std::filesystem::remove(folder_.path() / "more-apps.json");
  const MoreAppsList second(configFor(true), loader(), &choice_);
  EXPECT_EQ(second.source(), MoreAppsSource::network);
  EXPECT_EQ(ids(second.apps()), std::vector<std::string>{"fresh"});
}

TEST_F(MoreAppsListTest, RefreshLeavesTheListAsItWasOnEveryFailure) {
  writeCache(feedText(feedWith({feedEntry("cached")})));
  MoreAppsList list(configFor(true), loader(), nullptr);
  answer_ = MoreAppsResponse{"https://feeds.example.net/more-apps.json", 200, {}, "{}"};
  EXPECT_FALSE(list.refresh());
  EXPECT_EQ(list.source(), MoreAppsSource::cache);
  EXPECT_EQ(ids(list.apps()), std::vector<std::string>{"cached"});
}

TEST_F(MoreAppsListTest, AskNothingWhenTheBuildTurnsTheNetworkOff) {
  MoreAppsList list(configFor(true, false), loader(), nullptr);
  answer_ = MoreAppsResponse{"https://feeds.example.net/more-apps.json",
                             200,
                             {},
                             feedText(feedWith({feedEntry("fresh")}))};
  EXPECT_FALSE(list.refresh());
  EXPECT_EQ(requests_, 0);
  EXPECT_EQ(list.source(), MoreAppsSource::none);
}

TEST(MoreAppsShippedCopy, IsAValidFeed) {
  const std::optional<std::string> shipped = moreAppsBundledFeed();
  ASSERT_TRUE(shipped);
  const MoreAppsValidation result = validate(*shipped);
  ASSERT_TRUE(std::holds_alternative<MoreAppsFeed>(result))
      << std::get<MoreAppsError>(result).description();
}

TEST(MoreAppsLinks, AddTheCampaignOnlyToTheMakersSite) {
  MoreAppsEntry site;
  site.url = sitePage("notes");
  MoreAppsEntry www;
  www.url = "https://www." + moreAppsSite().siteHost + "/notes";
  MoreAppsEntry store;
  store.url = storePage("com.tevrin77.Notes");
  const std::string campaign = "?utm_source=vistrel&utm_medium=linux-app&utm_campaign=more-apps";

  EXPECT_EQ(entryLink(site, configFor(true)), site.url + campaign);
  EXPECT_EQ(entryLink(www, configFor(true)), www.url + campaign);
  EXPECT_EQ(entryLink(store, configFor(true)), store.url);
  MoreAppsConfig badSource = configFor(true);
  for (const std::string& source :
       std::vector<std::string>{"", "-x", "a&b=c", std::string(61, 'u')}) {
    badSource.utmSource = source;
    EXPECT_EQ(entryLink(site, badSource), site.url) << source;
  }
  badSource.utmSource = std::string(60, 'u');
  EXPECT_NE(entryLink(site, badSource), site.url);

  EXPECT_EQ(catalogueLink(configFor(true)),
            moreAppsSite().catalogueURL + campaign + "&utm_content=all");
}

TEST(MoreAppsConfigTest, VistrelsBuildValues) {
  const MoreAppsConfig config = MoreAppsConfig::vistrel();
  EXPECT_EQ(config.thisApp, "vistrel");
  EXPECT_EQ(config.bundleID, "com.tevrin77.Vistrel");
  EXPECT_TRUE(isValidUtmSource(config.utmSource));
}

}  // namespace
}  // namespace vistrel
