#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <unordered_set>
#include <vector>

#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/library/RecordDecodingError.h"

namespace vistrel {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> keysOf(const std::string& json) {
  const nlohmann::json parsed = nlohmann::json::parse(json);
  std::vector<std::string> keys;
  for (const auto& item : parsed.items()) {
    keys.push_back(item.key());
  }
  return keys;
}

std::vector<TextLine> linesWithTexts(const std::vector<std::string>& texts) {
  std::vector<TextLine> lines;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    lines.push_back({texts[i], 0.1, 0.1 * static_cast<double>(i), 0.5, 0.05});
  }
  return lines;
}

FrameSummary summaryWith(std::vector<std::string> texts, std::vector<int> matchingLines) {
  FrameSummary summary;
  summary.meta.lines = linesWithTexts(texts);
  summary.matchingLines = std::move(matchingLines);
  return summary;
}

TEST(FrameMetaTest, WithoutOptionalsEncodesFourKeysAndRoundTrips) {
  const FrameMeta meta{"Mail", std::nullopt, std::nullopt, 1600, 900, linesWithTexts({"Inbox"})};
  const std::string json = meta.encode();
  EXPECT_THAT(keysOf(json), ElementsAre("appName", "height", "lines", "width"));
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_EQ(FrameMeta::decode(json), meta);
}

TEST(FrameMetaTest, WithOptionalsRoundTrips) {
  const FrameMeta meta{"Mail",
                       "org.gnome.Evolution",
                       "Inbox — Mail",
                       1280,
                       720,
                       linesWithTexts({"Invoice #4471", "Café"})};
  EXPECT_THAT(keysOf(meta.encode()),
              ElementsAre("appName", "bundleID", "height", "lines", "title", "width"));
  EXPECT_EQ(FrameMeta::decode(meta.encode()), meta);
  EXPECT_EQ(FrameMeta::fromJSON(meta.toJSON()), meta);
}

TEST(FrameMetaTest, OptionalKeysAreReadTolerantly) {
  const FrameMeta meta = FrameMeta::decode(
      R"({"appName":"A","bundleID":null,"title":null,"width":1,"height":2,"lines":[],"other":[1]})");
  EXPECT_EQ(meta, (FrameMeta{"A", std::nullopt, std::nullopt, 1, 2, {}}));
  EXPECT_EQ(FrameMeta::decode(R"({"appName":"A","title":7,"width":1,"height":2,"lines":[]})").title,
            std::nullopt);
  EXPECT_EQ(FrameMeta::decode(R"({"appName":"A","width":1600.0,"height":2,"lines":[]})").width,
            1600);
}

TEST(FrameMetaTest, RequiredKeysMustBePresentAndTyped) {
  const std::vector<std::string> broken = {
      R"({"appName":"A","width":1,"height":2})",
      R"({"width":1,"height":2,"lines":[]})",
      R"({"appName":"A","height":2,"lines":[]})",
      R"({"appName":"A","width":1,"lines":[]})",
      R"({"appName":"A","width":"1","height":2,"lines":[]})",
      R"({"appName":"A","width":1.5,"height":2,"lines":[]})",
      R"({"appName":"A","width":18446744073709551615,"height":2,"lines":[]})",
      R"({"appName":null,"width":1,"height":2,"lines":[]})",
      R"({"appName":"A","width":1,"height":2,"lines":{}})",
      R"({"appName":"A","width":1,"height":2,"lines":[{"text":"T","x":0,"y":0,"w":1}]})",
      R"([1,2])",
      R"({"appName":"A",)",
      "",
  };
  for (const std::string& json : broken) {
    EXPECT_THROW(FrameMeta::decode(json), RecordDecodingError) << json;
  }
}

TEST(FrameMetaTest, MalformedUTF8IsEncodedAsReplacementCharacters) {
  const FrameMeta meta{"App", std::nullopt, "bad \xC3\x28 title", 1, 1, {}};
  const FrameMeta decoded = FrameMeta::decode(meta.encode());
  EXPECT_EQ(decoded.title, "bad \uFFFD( title");
}

TEST(FrameMetaTest, FullTextAndIndexText) {
  const FrameMeta meta{"N", std::nullopt, std::nullopt, 1, 1, linesWithTexts({"A", "B"})};
  EXPECT_EQ(meta.fullText(), "A\nB");
  EXPECT_EQ(meta.indexText(), "A\nB\n\nN");

  const FrameMeta titled{"Mail", "id", "Inbox", 1, 1, linesWithTexts({"Hello"})};
  EXPECT_EQ(titled.indexText(), "Hello\nInbox\nMail");

  const FrameMeta empty{"N", std::nullopt, std::nullopt, 1, 1, {}};
  EXPECT_EQ(empty.fullText(), "");
  EXPECT_EQ(empty.indexText(), "\n\nN");
}

TEST(AppRecordTest, JsonRoundTripsAndRequiresName) {
  const AppRecord withID{"Files", "org.gnome.Nautilus"};
  const AppRecord withoutID{"Files", std::nullopt};
  EXPECT_EQ(AppRecord::decode(withID.encode()), withID);
  EXPECT_EQ(AppRecord::decode(withoutID.encode()), withoutID);
  EXPECT_THAT(keysOf(withoutID.encode()), ElementsAre("name"));
  EXPECT_EQ(AppRecord::decode(R"({"name":"Files","bundleID":null})"), withoutID);
  EXPECT_THROW(AppRecord::decode(R"({"bundleID":"x"})"), RecordDecodingError);
  EXPECT_THROW(AppRecord::decode(R"({"name":3})"), RecordDecodingError);
  EXPECT_THROW(AppRecord::decode("not json"), RecordDecodingError);
}

TEST(FrameSummaryTest, SnippetPrefersTheFirstMatchingLineAndItsSuccessor) {
  const std::vector<std::string> five = {"zero", "one", "two", "three", "four"};
  EXPECT_EQ(summaryWith(five, {3}).snippet(), "three \u00B7 four");
  EXPECT_EQ(summaryWith(five, {4}).snippet(), "four");
  EXPECT_EQ(summaryWith(five, {1, 3}).snippet(), "one \u00B7 two");
}

TEST(FrameSummaryTest, SnippetFallsBackToALongLineThenTheFirst) {
  EXPECT_EQ(summaryWith({"ab", "abcd", "twenty-two characters!"}, {}).snippet(),
            "twenty-two characters!");
  EXPECT_EQ(summaryWith({"ab", "abcd"}, {}).snippet(), "ab");
  EXPECT_EQ(summaryWith({"ab", "twelve chars", "thirteen char"}, {}).snippet(), "thirteen char");
  // Twelve characters of several bytes each are still only twelve characters.
  EXPECT_EQ(summaryWith({"ab", "ÉÉÉÉÉÉÉÉÉÉÉÉ"}, {}).snippet(), "ab");
  EXPECT_EQ(summaryWith({}, {}).snippet(), "");
  EXPECT_EQ(summaryWith({"ab", "long enough line"}, {7}).snippet(), "long enough line");
  EXPECT_EQ(summaryWith({"ab", "long enough line"}, {-1}).snippet(), "long enough line");
}

TEST(AppEntryTest, HashesAndComparesOverAllFields) {
  const AppEntry entry{Bytes(16, 7), "Files", "org.gnome.Nautilus", 3};
  std::unordered_set<AppEntry> entries{entry, entry};
  EXPECT_EQ(entries.size(), 1u);
  for (const AppEntry& other : {AppEntry{Bytes(16, 8), "Files", "org.gnome.Nautilus", 3},
                                AppEntry{Bytes(16, 7), "Other", "org.gnome.Nautilus", 3},
                                AppEntry{Bytes(16, 7), "Files", std::nullopt, 3},
                                AppEntry{Bytes(16, 7), "Files", "org.gnome.Nautilus", 4}}) {
    EXPECT_NE(other, entry);
    entries.insert(other);
  }
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_EQ(std::hash<AppEntry>{}(entry), std::hash<AppEntry>{}(AppEntry(entry)));
}

TEST(FrameRecordsTest, RecordsAreMemberwiseValues) {
  const Date date = dateFromSeconds1970(1'700'000'000.5);
  EXPECT_EQ((FrameStamp{4, date, 1200}), (FrameStamp{4, date, 1200}));
  EXPECT_NE((FrameStamp{4, date, 1200}), (FrameStamp{4, date, 1201}));
  const NewFrame frame{date, FrameMeta{"A", std::nullopt, std::nullopt, 1, 1, {}}, Bytes{1, 2},
                       Bytes{3}};
  EXPECT_EQ(frame, NewFrame(frame));
  const LibraryStats stats{2, 3000, date, date, 1};
  EXPECT_NE(stats, (LibraryStats{2, 3000, std::nullopt, std::nullopt, 1}));
}

}  // namespace
}  // namespace vistrel
