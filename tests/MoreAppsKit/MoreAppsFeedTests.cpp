#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "MoreAppsKit/MoreAppsFeed.h"
#include "tests/MoreAppsKit/MoreAppsFeedFixtures.h"

namespace vistrel {
namespace {

using nlohmann::json;
using testing::feedEntry;
using testing::feedText;
using testing::feedWith;
using testing::sitePage;
using testing::storePage;

std::string refusal(const std::string& bytes) {
  const MoreAppsValidation result = validate(bytes);
  const auto* error = std::get_if<MoreAppsError>(&result);
  return error == nullptr ? "accepted" : error->description();
}

// A good feed of two entries with one change applied to the first entry.
std::string withFirstEntry(const std::function<void(json&)>& change) {
  json first = feedEntry("notes");
  change(first);
  return feedText(feedWith({first, feedEntry("tasks")}));
}

TEST(MoreAppsFeed, AcceptsAFullFeedAndDecodesEveryField) {
  json entry = feedEntry("notes");
  entry["bundleId"] = "com.tevrin77.Notes";
  entry["url"] = storePage("com.tevrin77.Notes");
  entry["localized"] = {{"de", {{"name", "Notizen"}}}, {"fr", {{"detail", "Des notes."}}}};
  entry["unknownKey"] = 5;
  const MoreAppsValidation result = validate(feedText(feedWith({entry, feedEntry("tasks")})));

  const auto* feed = std::get_if<MoreAppsFeed>(&result);
  ASSERT_NE(feed, nullptr) << std::get<MoreAppsError>(result).description();
  ASSERT_EQ(feed->apps.size(), 2u);
  const MoreAppsEntry& notes = feed->apps[0];
  EXPECT_EQ(notes.id, "notes");
  EXPECT_EQ(notes.bundleId, "com.tevrin77.Notes");
  EXPECT_EQ(notes.url, "https://flathub.org/apps/com.tevrin77.Notes");
  EXPECT_EQ(notes.displayName("de"), "Notizen");
  EXPECT_EQ(notes.displayDetail("de"), "What notes does.");
  EXPECT_EQ(notes.displayDetail("fr"), "Des notes.");
  EXPECT_EQ(notes.displayName("it"), "App notes");
  EXPECT_EQ(feed->apps[1].id, "tasks");
}

TEST(MoreAppsFeed, RefusesOneByteOverTheLimitWithoutParsingIt) {
  // Not JSON at all: only the size can refuse it as too large.
  EXPECT_EQ(refusal(std::string(moreAppsMaxFeedBytes + 1, '{')), "too large");
  EXPECT_EQ(refusal(std::string(moreAppsMaxFeedBytes, '{')), "not JSON");

  std::string padded = feedText(feedWith({feedEntry("notes")}));
  padded.append(moreAppsMaxFeedBytes - padded.size(), ' ');
  EXPECT_EQ(refusal(padded), "accepted");
  EXPECT_EQ(refusal(padded + " "), "too large");
}

TEST(MoreAppsFeed, RefusesFeedsByStructure) {
  json sixtyOne = json::array();
  json sixty = json::array();
  for (int i = 0; i < 61; ++i) {
    sixtyOne.push_back(feedEntry("app" + std::to_string(i)));
    if (i < 60)
      sixty.push_back(feedEntry("app" + std::to_string(i)));
  }
  json missingName = feedEntry("notes");
  missingName.erase("name");
  json numericBundle = feedEntry("notes");
  numericBundle["bundleId"] = 5;
  json schema2 = feedWith({feedEntry("notes")});
  schema2["schema"] = 2;
  json fractionalSchema = feedWith({feedEntry("notes")});
  fractionalSchema["schema"] = 1.5;

  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"", "not JSON"},
      {"[]", "not JSON"},
      {"{\"schema\":1,\"apps\":[{}]}", "not JSON"},
      {"{\"apps\":[]}", "not JSON"},
      {"{\"schema\":1,\"apps\":[\"\xff\"]}", "not JSON"},
      {feedText(feedWith({missingName})), "not JSON"},
      {feedText(feedWith({numericBundle})), "not JSON"},
      {feedText(fractionalSchema), "not JSON"},
      {feedText(schema2), "schema 2"},
      {feedText(feedWith(json::array())), "count 0"},
      {feedText(feedWith(sixtyOne)), "count 61"},
      {feedText(feedWith(sixty)), "accepted"},
      {feedText(feedWith({feedEntry("notes"), feedEntry("tasks"), feedEntry("notes")})),
       "duplicate id notes"},
  };
  for (const auto& test : cases)
    EXPECT_EQ(refusal(test.bytes), test.expected) << test.bytes.substr(0, 200);
}

TEST(MoreAppsFeed, RefusesAnEntryThatBreaksARule) {
  const std::string name41(41, 'n');
  const std::string detail121(121, 'd');
  const std::string id61(61, 'i');
  const struct {
    const char* field;
    json value;
    std::string expected;
  } cases[] = {
      {"id", "", "id "},
      {"id", "-notes", "id -notes"},
      {"id", "no tes", "id no tes"},
      {"id", id61, "id " + std::string(60, 'i')},
      {"id", std::string(60, 'i'), "accepted"},
      {"id", "notés", "id notés"},
      {"bundleId", "", "bundleId of notes"},
      {"bundleId", std::string(101, 'b'), "bundleId of notes"},
      {"bundleId", "com.example/notes", "bundleId of notes"},
      {"bundleId", nullptr, "accepted"},
      {"bundleId", "org.example.Notes_2-beta", "accepted"},
      {"name", name41, "name of notes"},
      {"name", std::string(40, 'n'), "accepted"},
      // Forty user-perceived characters of several bytes each: within the limit.
      {"name",
       [] {
         std::string flags;
         for (int i = 0; i < 40; ++i)
           flags += "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";  // one flag, eight bytes
         return flags;
       }(),
       "accepted"},
      {"name", "   ", "name of notes"},
      {"name", "", "name of notes"},
      {"name", "\xC2\xA0", "name of notes"},
      {"name", "Notes\nNew", "name of notes"},
      {"name",
       "Notes\xE2\x80\xAE"
       "evil",
       "name of notes"},
      {"detail", detail121, "detail of notes"},
      {"detail", std::string(120, 'd'), "accepted"},
      {"detail", "\t", "detail of notes"},
      {"symbol", "", "symbol of notes"},
      {"symbol", "org.gnome.Notes-symbolic", "accepted"},
      {"symbol", "../icon", "symbol of notes"},
      {"symbol", std::string(61, 's'), "symbol of notes"},
      {"tint", "Blue", "tint of notes"},
      {"tint", "gray", "accepted"},
      {"url", sitePage("notes?ref=x"), "url of notes"},
      {"url", sitePage("notes#top"), "url of notes"},
      {"url", "https://" + moreAppsSite().siteHost + ":8443/notes", "url of notes"},
      {"url", "https://user@" + moreAppsSite().siteHost + "/notes", "url of notes"},
      {"url", "https://user:pw@" + moreAppsSite().siteHost + "/notes", "url of notes"},
      {"url", "http://" + moreAppsSite().siteHost + "/notes", "url of notes"},
      {"url", "https://unknown.example/notes", "url of notes"},
      {"url", "https://evilflathub.org/apps/x", "url of notes"},
      {"url", "https://flathub.org.evil.example/apps/x", "url of notes"},
      {"url", "https://" + moreAppsSite().siteHost + "/" + std::string(200, 'p'), "url of notes"},
      {"url", "https://" + moreAppsSite().siteHost + "/a b", "url of notes"},
      {"url", "https://" + moreAppsSite().siteHost + "/%zz", "url of notes"},
      {"url", "javascript:alert(1)", "url of notes"},
      {"url", "https:///notes", "url of notes"},
      {"url", "https://www." + moreAppsSite().siteHost + "/notes", "accepted"},
      {"url", "HTTPS://WWW." + moreAppsSite().siteHost + "/notes", "accepted"},
      {"url", "https://dl.flathub.org/repo/x", "accepted"},
      {"url", "https://flathub.org", "accepted"},
      {"localized", {{"deu", {{"name", "Notizen"}}}}, "language of notes"},
      {"localized", {{"DE", {{"name", "Notizen"}}}}, "language of notes"},
      {"localized", {{"de", {{"name", name41}}}}, "de name of notes"},
      {"localized", {{"de", {{"name", " "}}}}, "de name of notes"},
      {"localized", {{"de", {{"detail", detail121}}}}, "de detail of notes"},
      {"localized", {{"de", json::object()}}, "accepted"},
      {"localized", {{"de", "Notizen"}}, "not JSON"},
  };
  for (const auto& test : cases) {
    const std::string bytes = withFirstEntry([&](json& entry) { entry[test.field] = test.value; });
    EXPECT_EQ(refusal(bytes), test.expected) << test.field << " = " << test.value.dump();
  }
}

TEST(MoreAppsFeed, ChecksTheRulesInOrder) {
  // Several broken fields: the first rule in order names the error.
  EXPECT_EQ(refusal(withFirstEntry([](json& entry) {
              entry["name"] = "";
              entry["tint"] = "none";
              entry["bundleId"] = "";
            })),
            "bundleId of notes");
  // A broken first entry wins over a duplicate later on.
  EXPECT_EQ(
      refusal(feedText(feedWith({feedEntry("notes"), feedEntry("notes"), feedEntry("-bad")}))),
      "duplicate id notes");
  // The schema is checked before the count.
  json feed = feedWith(json::array());
  feed["schema"] = 0;
  EXPECT_EQ(refusal(feedText(feed)), "schema 0");
}

}  // namespace
}  // namespace vistrel
