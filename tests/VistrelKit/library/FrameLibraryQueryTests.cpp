#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "VistrelKit/library/SearchSQL.h"
#include "VistrelKit/library/RecordDecodingError.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "tests/VistrelKit/library/FrameLibraryFixture.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using QueryTest = testing::FrameLibraryTest;

std::vector<std::int64_t> idsOf(const std::vector<FrameSummary>& results) {
  std::vector<std::int64_t> ids;
  for (const FrameSummary& result : results) {
    ids.push_back(result.id);
  }
  return ids;
}

std::vector<std::int64_t> idsOf(const std::vector<FrameStamp>& stamps) {
  std::vector<std::int64_t> ids;
  for (const FrameStamp& stamp : stamps) {
    ids.push_back(stamp.id);
  }
  return ids;
}

TEST(SearchSQLTest, TextAndValues) {
  const std::string byTime = "SELECT f.id, f.ts FROM frames f INDEXED BY frames_ts";
  const std::string byApp = "SELECT f.id, f.ts FROM frames f INDEXED BY frames_app";
  const std::string matching = "f.id IN (SELECT rowid FROM frame_index WHERE frame_index MATCH ?)";
  const std::string selectAll = "SELECT f.id, f.ts FROM frames f";
  const Bytes tag{1, 2, 3};
  const Date start = dateFromSeconds1970(100.5);
  const Date end = dateFromSeconds1970(200.25);

  struct Case {
    std::string expression;
    std::optional<Bytes> tag;
    std::optional<Date> start;
    std::optional<Date> end;
    std::int64_t limit;
    std::string text;
    std::vector<SQLValue> values;
  };
  const std::vector<Case> cases{
      {"",
       std::nullopt,
       std::nullopt,
       std::nullopt,
       150,
       selectAll + " ORDER BY f.ts DESC, f.id DESC LIMIT ?",
       {std::int64_t{150}}},
      {"",
       std::nullopt,
       std::nullopt,
       end,
       10,
       selectAll + " WHERE f.ts < ? ORDER BY f.ts DESC, f.id DESC LIMIT ?",
       {200.25, std::int64_t{10}}},
      {"\"ab\"",
       std::nullopt,
       std::nullopt,
       std::nullopt,
       150,
       byTime + " WHERE " + matching + " ORDER BY f.ts DESC, f.id DESC LIMIT ?",
       {std::string("\"ab\""), std::int64_t{3000}}},
      {"\"ab\"",
       std::nullopt,
       std::nullopt,
       std::nullopt,
       50,
       byTime + " WHERE " + matching + " ORDER BY f.ts DESC, f.id DESC LIMIT ?",
       {std::string("\"ab\""), std::int64_t{2000}}},
      {"\"ab\"",
       tag,
       start,
       end,
       1,
       byApp + " WHERE " + matching +
           " AND f.app_tag = ? AND f.ts >= ? AND f.ts < ? ORDER BY "
           "f.ts DESC, f.id DESC LIMIT ?",
       {std::string("\"ab\""), tag, 100.5, 200.25, std::int64_t{2000}}},
      {"",
       tag,
       start,
       std::nullopt,
       7,
       selectAll + " WHERE f.app_tag = ? AND f.ts >= ? ORDER BY f.ts DESC, f.id DESC LIMIT ?",
       {tag, 100.5, std::int64_t{7}}},
  };
  for (const Case& c : cases) {
    const SearchSQL sql =
        searchSQL(c.expression, c.tag, c.start, c.end, c.limit);
    EXPECT_EQ(sql.text, c.text);
    EXPECT_EQ(sql.values, c.values) << c.text;
  }
}

// The candidates come out of an index already newest first: a search for a common word must not
// sort every frame that has it before the first one is read.
TEST_F(QueryTest, CandidateQueriesNeedNoSort) {
  const Bytes tag{1, 2, 3};
  const Date start = dateFromSeconds1970(100.5);
  for (const bool hasQuery : {false, true}) {
    for (const bool hasTag : {false, true}) {
      const SearchSQL sql = searchSQL(
          hasQuery ? "\"ab\"" : "", hasTag ? std::optional<Bytes>(tag) : std::nullopt, start,
          std::nullopt, 150);
      SCOPED_TRACE(sql.text);
      Statement plan = inspect()->prepare("EXPLAIN QUERY PLAN " + sql.text);
      plan.bind(sql.values);
      std::string steps;
      while (plan.step()) {
        steps += plan.columnText(3) + "\n";
      }
      EXPECT_NE(steps.find(hasTag ? "frames_app" : "frames_ts"), std::string::npos) << steps;
      EXPECT_EQ(steps.find("TEMP B-TREE"), std::string::npos) << steps;
    }
  }
}

class SearchTest : public QueryTest {
 protected:
  std::vector<std::int64_t> find(const std::string& text, std::int64_t limit = 150,
                                 std::optional<Bytes> tag = std::nullopt,
                                 std::optional<Date> start = std::nullopt,
                                 std::optional<Date> end = std::nullopt) {
    return idsOf(library->search(SearchQuery::parse(text), tag, start, end, limit));
  }
};

TEST_F(SearchTest, WordsArePrefixesVerifiedInFull) {
  library->store(frame(at(0), "Invoice #4471 from ACME", "Mail"));  // 1
  library->store(frame(at(10), "informatics course", "Browser"));   // 2
  library->store(frame(at(20), "information desk", "Browser"));     // 3
  library->store(frame(at(30), "budget review meeting", "Notes"));  // 4
  library->store(frame(at(40), "review the budget", "Notes"));      // 5
  library->store(frame(at(50), "invoice 9999", "Mail"));            // 6

  EXPECT_EQ(find("invo 4471"), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(find("invoice"), (std::vector<std::int64_t>{6, 1}));
  EXPECT_EQ(find("inf"), (std::vector<std::int64_t>{3, 2}));
  EXPECT_EQ(find("informatic"), (std::vector<std::int64_t>{2}));
  EXPECT_EQ(find("\"budget review\""), (std::vector<std::int64_t>{4}));
  EXPECT_EQ(find("budget review"), (std::vector<std::int64_t>{5, 4}));
  EXPECT_EQ(find("nothinghere"), (std::vector<std::int64_t>{}));
  EXPECT_EQ(find("invoice", 150, keys.tag("Mail")), (std::vector<std::int64_t>{6, 1}));
  EXPECT_EQ(find("review", 150, keys.tag("Browser")), (std::vector<std::int64_t>{}));
  EXPECT_EQ(find("invoice", 150, std::nullopt, at(0), at(50)), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(find("invoice", 150, std::nullopt, at(1)), (std::vector<std::int64_t>{6}));
  EXPECT_EQ(find("invoice", 1), (std::vector<std::int64_t>{6}));
  EXPECT_EQ(find("invoice", 0), (std::vector<std::int64_t>{}));
  EXPECT_EQ(find("", 0), (std::vector<std::int64_t>{}));
  EXPECT_EQ(find("", -1), (std::vector<std::int64_t>{}));

  const std::vector<FrameSummary> hits =
      library->search(SearchQuery::parse("acme"), std::nullopt, std::nullopt, std::nullopt, 5);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].matchingLines, (std::vector<int>{0}));
  EXPECT_EQ(hits[0].thumbnail, frame(at(), "").thumbnail);
  EXPECT_EQ(hits[0].date, at(0));
  EXPECT_EQ(hits[0].meta.appName, "Mail");
}

TEST_F(SearchTest, FramesOfTheSameMomentListTheLaterStoredFirst) {
  library->store(frame(at(0), "invoice draft", "Mail"));  // 1
  library->store(frame(at(50), "invoice 9999", "Mail"));  // 2
  library->store(frame(at(50), "invoice copy", "Mail"));  // 3
  library->store(frame(at(50), "budget", "Notes"));       // 4
  EXPECT_EQ(find("invoice"), (std::vector<std::int64_t>{3, 2, 1}));
  EXPECT_EQ(find("invoice", 150, keys.tag("Mail")), (std::vector<std::int64_t>{3, 2, 1}));
  EXPECT_EQ(find("", 3), (std::vector<std::int64_t>{4, 3, 2}));
}

// Hundreds of candidates, most of them failing the exact check: the results are still the newest
// matching frames in order, cut at the limit wherever it falls among the candidates.
TEST_F(SearchTest, ManyCandidatesAreVerifiedInOrderUpToTheLimit) {
  std::vector<std::int64_t> matching;
  std::vector<std::int64_t> all;
  for (int i = 0; i < 300; ++i) {
    const bool match = i % 3 == 0;
    const std::string text = (match ? "budget review " : "review the budget ") + std::to_string(i);
    all.push_back(library->store(frame(at(i), text)));
    if (match) {
      matching.push_back(all.back());
    }
  }
  std::reverse(matching.begin(), matching.end());
  std::reverse(all.begin(), all.end());
  const auto first = [](const std::vector<std::int64_t>& ids, std::size_t count) {
    return std::vector<std::int64_t>(ids.begin(), ids.begin() + static_cast<long>(count));
  };
  EXPECT_EQ(find("\"budget review\"", 150), matching);
  EXPECT_EQ(find("\"budget review\"", 70), first(matching, 70));
  EXPECT_EQ(find("\"budget review\"", 1), first(matching, 1));
  EXPECT_EQ(find("budget review", 200), first(all, 200));
  EXPECT_EQ(find("", 130), first(all, 130));
}

TEST_F(SearchTest, EmptyQueryListsNewestFirst) {
  for (int i = 0; i < 5; ++i) {
    library->store(frame(at(i == 2 ? 100 : i), "text"));
  }
  const std::vector<FrameSummary> newest =
      library->search(SearchQuery{}, std::nullopt, std::nullopt, std::nullopt, 3);
  EXPECT_EQ(idsOf(newest), (std::vector<std::int64_t>{3, 5, 4}));
  for (const FrameSummary& summary : newest) {
    EXPECT_TRUE(summary.matchingLines.empty());
  }
  EXPECT_EQ(find("", 150, std::nullopt, std::nullopt, at(2)), (std::vector<std::int64_t>{2, 1}));
}

TEST_F(QueryTest, TamperedMetadataLeavesSearchButNotStampsOrStats) {
  library->store(frame(at(0), "shared word"));
  library->store(frame(at(1), "shared word"));
  inspect()->exec(
      "UPDATE frames SET meta = X'000102030405060708090a0b0c0d0e0f101112131415161718' "
      "WHERE id = 2");
  EXPECT_EQ(idsOf(library->search(SearchQuery::parse("shared"), std::nullopt, std::nullopt,
                                  std::nullopt, 10)),
            (std::vector<std::int64_t>{1}));
  EXPECT_EQ(idsOf(library->search(SearchQuery{}, std::nullopt, std::nullopt, std::nullopt, 10)),
            (std::vector<std::int64_t>{1}));
  EXPECT_EQ(idsOf(library->allStamps()), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(library->stats(at()).frames, 2);
  try {
    library->summary(2, SearchQuery{});
    ADD_FAILURE() << "no error";
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::damaged);
    EXPECT_STREQ(error.what(), "A stored frame failed its integrity check.");
  }
}

TEST_F(QueryTest, UnreadableThumbnailIsEmptyInSearchAndDamagedInSummary) {
  library->store(frame(at(0), "hello world"));
  inspect()->exec("UPDATE frames SET thumb = X'00' WHERE id = 1");
  const auto hits =
      library->search(SearchQuery::parse("hello"), std::nullopt, std::nullopt, std::nullopt, 10);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_TRUE(hits[0].thumbnail.empty());
  EXPECT_THROW(library->summary(1, SearchQuery{}), VistrelCryptoError);
}

TEST_F(QueryTest, SummaryAndImage) {
  const NewFrame stored = frame(at(5), "Quarterly numbers", "Sheets", std::nullopt, "Report");
  library->store(stored);
  const std::optional<FrameSummary> summary = library->summary(1, SearchQuery::parse("numb"));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->meta, stored.meta);
  EXPECT_EQ(summary->thumbnail, stored.thumbnail);
  EXPECT_EQ(summary->date, stored.date);
  EXPECT_EQ(summary->matchingLines, (std::vector<int>{0}));
  EXPECT_EQ(library->image(1), stored.jpeg);

  EXPECT_EQ(library->summary(42, SearchQuery{}), std::nullopt);
  EXPECT_EQ(library->image(42), std::nullopt);

  const fs::path file = folder() / "frames/2025-03-09/1.vsf";
  writeFileAtomically(file, Bytes(64, 7));
  EXPECT_THROW(library->image(1), VistrelCryptoError);
  fs::remove(file);
  EXPECT_THROW(library->image(1), fs::filesystem_error);
}

TEST_F(QueryTest, StampsAndApps) {
  library->store(frame(at(10), "a", "Mail"));
  library->store(frame(at(0), "b", "Notes"));
  library->store(frame(at(10), "c", "Notes"));
  EXPECT_EQ(idsOf(library->allStamps()), (std::vector<std::int64_t>{2, 1, 3}));
  EXPECT_EQ(idsOf(library->stamps(at(0), at(10))), (std::vector<std::int64_t>{2}));
  const std::vector<FrameStamp> stamps = library->stamps(at(10), at(11));
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_EQ(stamps[0].date, at(10));
  EXPECT_GT(stamps[0].bytes, 0);

  std::vector<AppEntry> apps = library->apps();
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].name, "Notes");
  EXPECT_EQ(apps[0].count, 2);
  EXPECT_EQ(apps[1].name, "Mail");

  inspect()->run("UPDATE apps SET meta = X'0102' WHERE tag = ?", {keys.tag("Notes")});
  apps = library->apps();
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].name, "Mail");
}

TEST_F(QueryTest, StatsOfAnEmptyLibrary) {
  EXPECT_EQ(library->stats(at()), LibraryStats{});
  EXPECT_EQ(library->allStamps(), std::vector<FrameStamp>{});
  EXPECT_EQ(library->apps(), std::vector<AppEntry>{});
}

TEST_F(QueryTest, StatsCountTodayFromTheStartOfTheDay) {
  library->store(frame(at(-12 * 3600.0 - 1), "yesterday"));
  library->store(frame(at(-12 * 3600.0), "midnight"));
  library->store(frame(at(3600), "afternoon"));
  const LibraryStats stats = library->stats(at());
  EXPECT_EQ(stats.frames, 3);
  EXPECT_EQ(stats.today, 2);
  EXPECT_EQ(stats.oldest, at(-12 * 3600.0 - 1));
  EXPECT_EQ(stats.newest, at(3600));
  std::int64_t bytes = 0;
  for (const FrameStamp& stamp : library->allStamps()) {
    bytes += stamp.bytes;
  }
  EXPECT_EQ(stats.bytes, bytes);
}

class BerlinTest : public testing::FrameLibraryTest {
 protected:
  BerlinTest() : FrameLibraryTest(*Calendar::named("Europe/Berlin")) {}
};

TEST_F(BerlinTest, DayStampsFollowTheCalendarDay) {
  const double hour = 3600;
  // Local midnight of 2025-03-30 (23 hours long) and of 2025-10-26 (25 hours long).
  for (const auto& [midnight, length] : std::vector<std::pair<double, double>>{
           {1743289200.0, 23 * hour}, {1761429600.0, 25 * hour}}) {
    const Date start = dateFromSeconds1970(midnight);
    const std::int64_t first = library->store(frame(start - Seconds(1), "before"));
    library->store(frame(start, "first"));
    library->store(frame(start + Seconds(length - 1), "last"));
    library->store(frame(start + Seconds(length), "after"));
    EXPECT_EQ(idsOf(library->dayStamps(start + Seconds(12 * hour))),
              (std::vector<std::int64_t>{first + 1, first + 2}));
  }
}

}  // namespace
}  // namespace vistrel
