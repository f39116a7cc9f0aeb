#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/search/TextIndex.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "tests/VistrelKit/library/FrameLibraryFixture.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using StoreTest = testing::FrameLibraryTest;

TEST_F(StoreTest, FirstFrameLeavesFileAndOneRowEach) {
  const NewFrame stored = frame(at(), "Invoice #4471", "Mail", "org.example.mail", "Inbox");
  EXPECT_EQ(library->store(stored), 1);

  const fs::path file = folder() / "frames" / "2025-03-09" / "1.vsf";
  ASSERT_TRUE(fs::is_regular_file(file));
  const Bytes sealed = readFile(file);
  EXPECT_EQ(keys.unseal(sealed, "frame:1:image"), stored.jpeg);
  for (const char* context : {"frame:1:meta", "frame:1:thumb", "frame:2:image", "frame:01:image"}) {
    EXPECT_THROW(keys.unseal(sealed, context), VistrelCryptoError) << context;
  }
  EXPECT_EQ(count("SELECT COUNT(*) FROM frames"), 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index"), 1);

  Statement row = inspect()->prepare("SELECT ts, app_tag, file, meta FROM frames WHERE id = 1");
  ASSERT_TRUE(row.step());
  EXPECT_EQ(row.columnDouble(0), secondsSince1970(stored.date));
  EXPECT_EQ(row.columnBlob(1), keys.tag("org.example.mail"));
  EXPECT_EQ(row.columnText(2), "frames/2025-03-09/1.vsf");
  EXPECT_EQ(library->decodeMeta(row.columnBlob(3), 1), stored.meta);
  EXPECT_EQ(library->image(1), stored.jpeg);
}

TEST_F(StoreTest, StorageEstimateAddsSealedBlobsAndHalfTheTokenList) {
  const NewFrame stored = frame(at(), "quarterly report draft", "Writer", std::nullopt, "Notes");
  library->store(stored);

  std::set<std::string> tokens;
  for (const std::string& term : TextIndex::indexTerms(stored.meta.indexText())) {
    tokens.insert(keys.token(term));
  }
  std::string list;
  for (const std::string& token : tokens) {
    list += (list.empty() ? "" : " ") + token;
  }
  Statement row =
      inspect()->prepare("SELECT bytes, length(meta), length(thumb) FROM frames WHERE id = 1");
  ASSERT_TRUE(row.step());
  const auto image = static_cast<std::int64_t>(fs::file_size(folder() / "frames/2025-03-09/1.vsf"));
  EXPECT_EQ(row.columnInt(0), row.columnInt(1) + row.columnInt(2) + image +
                                  static_cast<std::int64_t>(list.size() / 2));
  // The index holds exactly that token list: each token finds the frame.
  for (const std::string& token : tokens) {
    EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index WHERE frame_index MATCH '\"" + token + "\"'"),
              1);
  }
}

TEST_F(StoreTest, FrameWithoutTextIsIndexedByItsApplicationName) {
  library->store(frame(at(), "", "Calculator"));
  EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index"), 1);
  EXPECT_EQ(
      library->search(SearchQuery::parse("calcu"), std::nullopt, std::nullopt, std::nullopt, 10)
          .size(),
      1u);
}

TEST_F(StoreTest, DeletedIdentifiersAreNotHandedOutAgain) {
  for (std::int64_t id = 1; id <= 5; ++id) {
    EXPECT_EQ(library->store(frame(at(id), "text")), id);
  }
  EXPECT_EQ(library->remove({5, 5, 99}), 1);
  EXPECT_EQ(library->remove({5}), 0);
  EXPECT_EQ(library->remove({}), 0);
  EXPECT_EQ(library->store(frame(at(6), "text")), 6);
  EXPECT_FALSE(fs::exists(folder() / "frames/2025-03-09/5.vsf"));
  EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index"), 5);
}

TEST_F(StoreTest, FailedInsertRollsEverythingBack) {
  library->store(frame(at(), "first"));
  inspect()->exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON frames BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_THROW(library->store(frame(at(1), "second", "Other")), SQLiteError);

  EXPECT_EQ(count("SELECT COUNT(*) FROM frames"), 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index"), 1);
  EXPECT_EQ(count("SELECT v FROM info WHERE k = 'next_id'"), 2);
  EXPECT_FALSE(fs::exists(folder() / "frames/2025-03-09/2.vsf"));

  inspect()->exec("DROP TRIGGER refuse");
  EXPECT_EQ(library->store(frame(at(1), "second", "Other")), 2);
  EXPECT_TRUE(fs::exists(folder() / "frames/2025-03-09/2.vsf"));
}

TEST_F(StoreTest, UnwritableDayFolderRollsBack) {
  { std::ofstream blocker(folder() / "frames" / "2025-03-09"); }
  EXPECT_THROW(library->store(frame(at(), "text")), fs::filesystem_error);
  EXPECT_EQ(count("SELECT COUNT(*) FROM frames"), 0);
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 0);
  fs::remove(folder() / "frames" / "2025-03-09");
  EXPECT_EQ(library->store(frame(at(), "text")), 1);
}

TEST_F(StoreTest, FailedDeleteTouchesNoFile) {
  library->store(frame(at(), "a"));
  library->store(frame(at(1), "b"));
  inspect()->exec(
      "CREATE TRIGGER keep BEFORE DELETE ON frames WHEN old.id = 2 BEGIN SELECT RAISE(ABORT, "
      "'kept'); END");
  EXPECT_THROW(library->remove({1, 2}), SQLiteError);
  EXPECT_EQ(count("SELECT COUNT(*) FROM frames"), 2);
  EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index"), 2);
  EXPECT_TRUE(fs::exists(folder() / "frames/2025-03-09/1.vsf"));
  EXPECT_TRUE(fs::exists(folder() / "frames/2025-03-09/2.vsf"));
}

// With another connection holding the write lock, any transaction would wait out the busy
// timeout and fail; doing nothing must not touch the database at all.
TEST_F(StoreTest, NothingToDeleteOpensNoTransaction) {
  library->store(frame(at(), "a"));
  const std::shared_ptr<SQLiteDB> other = inspect();
  other->exec("BEGIN IMMEDIATE");
  EXPECT_EQ(library->remove({}), 0);
  EXPECT_EQ(library->cleanup(RetentionPolicy{30, 1 << 30}, at()), 0);
  EXPECT_THROW(library->remove({1}), SQLiteError);
  other->exec("ROLLBACK");
  EXPECT_EQ(library->remove({1}), 1);
}

// The file column is not sealed; a row pointing elsewhere must not become a way to delete or read
// other files.
TEST_F(StoreTest, FileNamesOutsideADayFolderAreNeverTouched) {
  for (int i = 0; i < 4; ++i) {
    library->store(frame(at(i), "a"));
  }
  const std::vector<std::string> planted{"frames/../history.sqlite", "/etc/hostname",
                                         "history.sqlite",
                                         "frames/2025-03-09/../../history.sqlite"};
  for (std::size_t i = 0; i < planted.size(); ++i) {
    inspect()->run("UPDATE frames SET file = ? WHERE id = ?",
                   {planted[i], static_cast<std::int64_t>(i + 1)});
    EXPECT_THROW(library->image(static_cast<std::int64_t>(i + 1)), VistrelCryptoError)
        << planted[i];
  }
  EXPECT_EQ(library->remove({1, 2, 3, 4}), 4);
  EXPECT_TRUE(fs::exists(folder() / "history.sqlite"));
  EXPECT_EQ(library->store(frame(at(), "b")), 5);
}

TEST_F(StoreTest, LastFrameOfADayRemovesItsFolder) {
  library->store(frame(at(), "a"));
  library->store(frame(at(60), "b"));
  library->store(frame(at(86400), "c"));
  const fs::path day = folder() / "frames" / "2025-03-09";
  EXPECT_EQ(library->remove({1}), 1);
  EXPECT_TRUE(fs::is_directory(day));
  EXPECT_EQ(library->remove({2}), 1);
  EXPECT_FALSE(fs::exists(day));
  EXPECT_TRUE(fs::exists(folder() / "frames" / "2025-03-10" / "3.vsf"));
}

TEST_F(StoreTest, LastFrameOfAnApplicationRemovesItsRow) {
  library->store(frame(at(), "a", "Mail"));
  library->store(frame(at(1), "b", "Browser"));
  library->store(frame(at(2), "c", "Mail"));
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 2);
  library->remove({2});
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 1);
  library->remove({1});
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 1);
  library->remove({3});
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 0);
}

TEST_F(StoreTest, OneBundleIsOneApplicationNamedByItsFirstFrame) {
  library->store(frame(at(), "a", "Mail", "org.example.mail"));
  library->store(frame(at(1), "b", "Mail Beta", "org.example.mail"));
  library->store(frame(at(2), "c", "Notes"));
  library->store(frame(at(3), "d", "Notes"));
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 2);
  const std::vector<AppEntry> apps = library->apps();
  ASSERT_EQ(apps.size(), 2u);
  std::vector<std::string> names{apps[0].name, apps[1].name};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Mail", "Notes"}));
  for (const AppEntry& app : apps) {
    EXPECT_EQ(app.count, 2);
    EXPECT_EQ(app.tag, keys.tag(app.bundleID ? *app.bundleID : app.name));
  }
}

TEST_F(StoreTest, DeleteRangeIsStartInclusiveEndExclusive) {
  for (int i = 0; i < 4; ++i) {
    library->store(frame(at(i * 10), "x"));
  }
  EXPECT_EQ(library->deleteRange(at(10), at(30)), 2);
  std::vector<std::int64_t> left;
  for (const FrameStamp& stamp : library->allStamps()) {
    left.push_back(stamp.id);
  }
  EXPECT_EQ(left, (std::vector<std::int64_t>{1, 4}));
}

TEST_F(StoreTest, CleanupDeletesWhatRetentionSelects) {
  library->store(frame(at(-40 * 86400.0), "old"));
  library->store(frame(at(-86400), "recent"));
  library->store(frame(at(), "newest"));
  EXPECT_EQ(library->cleanup(RetentionPolicy{30, 1 << 30}, at()), 1);
  EXPECT_EQ(library->cleanup(RetentionPolicy{30, 1 << 30}, at()), 0);
  EXPECT_EQ(library->cleanup(RetentionPolicy{30, 0}, at()), 2);
  EXPECT_EQ(library->stats(at()).frames, 0);
  library->checkpoint();
  EXPECT_EQ(fs::file_size(folder() / "history.sqlite-wal"), 0u);
}

// Nothing the user saw may be readable in the library folder without the key.
TEST_F(StoreTest, NoPlainWordReachesTheDisk) {
  const std::vector<std::string> secrets{"zebracorn", "quixotical", "flibbertigibbet",
                                         "org.secretvendor"};
  library->store(frame(at(), "Zebracorn budget is QUIXOTICAL", "Flibbertigibbet",
                       "org.secretvendor.app", "Quixotical plans"));
  library->store(frame(at(1), "zebracorn again", "Flibbertigibbet", std::nullopt, "ZEBRACORN"));
  library->remove({1});
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder())) {
    if (!entry.is_regular_file()) {
      continue;
    }
    ++files;
    const Bytes content = readFile(entry.path());
    std::string lowered(content.begin(), content.end());
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const std::string& secret : secrets) {
      EXPECT_EQ(lowered.find(secret), std::string::npos) << secret << " in " << entry.path();
    }
  }
  EXPECT_GE(files, 3u);  // database, its log and the frame file were all looked at
}

}  // namespace
}  // namespace vistrel
