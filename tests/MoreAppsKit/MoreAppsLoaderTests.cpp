#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "MoreAppsKit/MoreAppsLoader.h"
#include "tests/MoreAppsKit/MoreAppsFeedFixtures.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using testing::feedEntry;
using testing::feedText;
using testing::feedWith;

const std::string feedURL = "https://feeds.example.net/more-apps.json";

// Records every request and answers with whatever the test set last.
struct FakeTransport {
  std::vector<MoreAppsRequest> requests;
  std::optional<MoreAppsResponse> answer;

  static MoreAppsResponse ok(std::string body, std::map<std::string, std::string> headers = {}) {
    return {feedURL, 200, std::move(headers), std::move(body)};
  }
};

std::string readText(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

std::optional<std::string> header(const MoreAppsRequest& request, const std::string& name) {
  for (const auto& [key, value] : request.headers) {
    if (key == name)
      return value;
  }
  return std::nullopt;
}

class MoreAppsLoaderTest : public ::testing::Test {
 protected:
  MoreAppsLoader loader() {
    return {feedURL,
            cacheFolder(),
            {},
            [this] { return clock_; },
            [this](const MoreAppsRequest& request) {
              transport_.requests.push_back(request);
              return transport_.answer;
            }};
  }
  std::filesystem::path cacheFolder() const { return folder_.path() / "cache" / "Vistrel"; }
  std::filesystem::path feedFile() const { return cacheFolder() / "more-apps.json"; }
  void advance(Clock::duration duration) { clock_ += duration; }

  // A refresh that brought a good feed with an ETag, 25 hours before "now".
  std::string cacheGoodFeed() {
    const std::string body = feedText(feedWith({feedEntry("notes")}));
    transport_.answer = FakeTransport::ok(
        body, {{"etag", "\"v1\""}, {"last-modified", "Tue, 01 Dec 2026 10:00:00 GMT"}});
    EXPECT_TRUE(loader().refresh());
    advance(25h);
    transport_.requests.clear();
    return body;
  }

  testing::TemporaryFolder folder_;
  Clock::time_point clock_ = Clock::time_point(std::chrono::seconds(1'796'000'000));
  FakeTransport transport_;
};

TEST_F(MoreAppsLoaderTest, FirstRefreshFetchesValidatesAndCaches) {
  const std::string body = feedText(feedWith({feedEntry("notes")}));
  transport_.answer = FakeTransport::ok(body, {{"etag", "\"v1\""}});

  const std::optional<MoreAppsFeed> feed = loader().refresh();

  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->apps[0].id, "notes");
  ASSERT_EQ(transport_.requests.size(), 1u);
  const MoreAppsRequest& request = transport_.requests[0];
  EXPECT_EQ(request.url, feedURL);
  EXPECT_EQ(request.timeout, 5s);
  EXPECT_TRUE(request.ignoreLocalCache);
  EXPECT_FALSE(request.sendCookies);
  EXPECT_EQ(header(request, "Accept"), "application/json");
  EXPECT_FALSE(header(request, "If-None-Match"));
  EXPECT_EQ(readText(feedFile()), body);
  EXPECT_EQ(loader().cached(), feed);
  const MoreAppsLoader::Meta meta = loader().readMeta();
  EXPECT_EQ(meta.etag, "\"v1\"");
  EXPECT_FALSE(meta.lastModified);
  ASSERT_TRUE(meta.checkedAt);
  EXPECT_LT(std::chrono::abs(*meta.checkedAt - clock_), 1ms);
}

TEST_F(MoreAppsLoaderTest, AsksAtMostOnceADayMeasuredFromTheLastCheck) {
  cacheGoodFeed();
  advance(-25h + 3h);  // checked 3 hours ago
  EXPECT_FALSE(loader().refresh());
  EXPECT_TRUE(transport_.requests.empty());

  advance(22h);  // 25 hours
  loader().refresh();
  EXPECT_EQ(transport_.requests.size(), 1u);

  advance(-1h);  // the last check is now 1 hour in the future: a clock was wrong
  loader().refresh();
  EXPECT_EQ(transport_.requests.size(), 2u);
}

TEST_F(MoreAppsLoaderTest, AFailedRequestIsNotRepeatedForADay) {
  transport_.answer = std::nullopt;
  EXPECT_FALSE(loader().refresh());
  advance(1h);
  EXPECT_FALSE(loader().refresh());
  EXPECT_EQ(transport_.requests.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(feedFile()));
}

TEST_F(MoreAppsLoaderTest, AskConditionallyAgainstAGoodCopyAndKeepItOn304) {
  const std::string body = cacheGoodFeed();
  transport_.answer = MoreAppsResponse{feedURL, 304, {}, ""};

  EXPECT_FALSE(loader().refresh());

  ASSERT_EQ(transport_.requests.size(), 1u);
  EXPECT_EQ(header(transport_.requests[0], "If-None-Match"), "\"v1\"");
  EXPECT_EQ(header(transport_.requests[0], "If-Modified-Since"), "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(readText(feedFile()), body);
  EXPECT_TRUE(loader().cached());
}

TEST_F(MoreAppsLoaderTest, NoConditionalRequestWithoutAGoodCachedCopy) {
  cacheGoodFeed();
  std::ofstream(feedFile(), std::ios::trunc) << "{\"schema\": 2}";
  transport_.answer = std::nullopt;

  loader().refresh();

  ASSERT_EQ(transport_.requests.size(), 1u);
  EXPECT_FALSE(header(transport_.requests[0], "If-None-Match"));
  EXPECT_FALSE(header(transport_.requests[0], "If-Modified-Since"));
  EXPECT_FALSE(loader().readMeta().etag);
}

TEST_F(MoreAppsLoaderTest, IgnoresAnswersThatMustNotReachTheCache) {
  const std::string body = cacheGoodFeed();
  const std::string other = feedText(feedWith({feedEntry("tasks")}));
  const struct {
    const char* what;
    MoreAppsResponse response;
  } cases[] = {
      {"redirected to another host", {"https://elsewhere.example/more-apps.json", 200, {}, other}},
      {"redirected to http", {"http://feeds.example.net/more-apps.json", 200, {}, other}},
      {"not an address", {"", 200, {}, other}},
      {"status 203", {feedURL, 203, {}, other}},
      {"status 500", {feedURL, 500, {}, other}},
      {"a refused body", {feedURL, 200, {}, "{\"schema\": 2, \"apps\": []}"}},
  };
  for (const auto& test : cases) {
    transport_.answer = test.response;
    EXPECT_FALSE(loader().refresh()) << test.what;
    EXPECT_EQ(readText(feedFile()), body) << test.what;
    advance(25h);
  }
  EXPECT_EQ(transport_.requests.size(), std::size(cases));
}

TEST_F(MoreAppsLoaderTest, AcceptsTheSameHostInAnyCase) {
  transport_.answer = FakeTransport::ok(feedText(feedWith({feedEntry("notes")})));
  transport_.answer->finalURL = "https://FEEDS.example.NET/v2/more-apps.json";
  EXPECT_TRUE(loader().refresh());
}

TEST_F(MoreAppsLoaderTest, CachedRefusesWhatIsNotAGoodFeed) {
  EXPECT_FALSE(loader().cached());
  std::filesystem::create_directories(cacheFolder());
  std::ofstream(feedFile()) << std::string(moreAppsMaxFeedBytes + 10, ' ');
  EXPECT_FALSE(loader().cached());
  std::filesystem::remove(feedFile());
  std::filesystem::create_directory(feedFile());
  EXPECT_FALSE(loader().cached());
}

TEST_F(MoreAppsLoaderTest, ReadsTheMetaRecordTolerantly) {
  std::filesystem::create_directories(cacheFolder());
  std::ofstream(cacheFolder() / "more-apps.meta.json")
      << R"({"etag": 5, "lastModified": "Mon", "checkedAt": 1e300})";
  const MoreAppsLoader::Meta meta = loader().readMeta();
  EXPECT_FALSE(meta.etag);
  EXPECT_EQ(meta.lastModified, "Mon");
  EXPECT_FALSE(meta.checkedAt);
}

TEST(MoreAppsLoaderCacheFolder, FollowsXdgCacheHome) {
  {
    ScopedEnvironment cache("XDG_CACHE_HOME", "/var/tmp/cache");
    EXPECT_EQ(MoreAppsLoader::defaultCacheDirectory(), "/var/tmp/cache/Vistrel");
  }
  ScopedEnvironment relative("XDG_CACHE_HOME", "relative");
  EXPECT_EQ(MoreAppsLoader::defaultCacheDirectory().filename(), "Vistrel");
  EXPECT_EQ(MoreAppsLoader::defaultCacheDirectory().parent_path().filename(), ".cache");
}

}  // namespace
}  // namespace vistrel
