// Faults from outside the library: a write the system refuses half-way, a database locked by
// someone else, a damaged log, database or frame file, and the leftovers of a process that died.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "tests/VistrelKit/library/FrameLibraryFixture.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using FaultTest = testing::FrameLibraryTest;

Bytes noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

// Every file under the folder, relative, sorted.
std::set<std::string> filesUnder(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files.insert(fs::relative(entry.path(), folder).string());
    }
  }
  return files;
}

std::string integrityOf(const fs::path& database) {
  Statement statement = SQLiteDB::open(database)->prepare("PRAGMA integrity_check");
  return statement.step() ? statement.columnText(0) : "no result";
}

TEST_F(FaultTest, StrayFilesOfCrashedWritesAreRemovedAndNothingElse) {
  library->store(frame(at(), "one"));             // 1, 2025-03-09
  library->store(frame(at(86400), "two"));        // 2, 2025-03-10
  library->store(frame(at(2 * 86400), "three"));  // 3, 2025-03-11
  library->remove({3});                           // next identifier stays 4
  const fs::path frames = folder() / "frames";
  const std::vector<std::pair<std::string, bool>> cases = {
      // A store that died after writing its file, on another day than the retry of its id.
      {"2025-03-08/2.vsf", true},
      // A deletion that died after its commit.
      {"2025-03-11/3.vsf", true},
      // A store that died while writing the temporary file.
      {"2025-03-10/3.vsf.Ab12Cd", true},
      // The files of stored frames.
      {"2025-03-09/1.vsf", false},
      {"2025-03-10/2.vsf", false},
      // A store in flight elsewhere: its identifier has not been handed out yet.
      {"2025-03-10/4.vsf", false},
      {"2025-03-10/4.vsf.Zz98Yy", false},
      // Not the library's names.
      {"2025-03-10/notes.txt", false},
      {"2025-03-10/01.vsf", false},
      {"2025-03-10/1.vsf~", false},
      {"2025-03-10/1.jpg", false},
  };
  for (const auto& [name, stray] : cases) {
    if (!fs::exists(frames / name)) {
      createPrivateFolders((frames / name).parent_path());
      writeFileAtomically(frames / name, Bytes{1, 2, 3});
    }
  }
  fs::create_directories(frames / "2025-03-07");            // emptied by a deletion that died
  fs::create_directories(frames / "2025-03-06" / "1.vsf");  // a folder, not a frame file

  EXPECT_EQ(library->removeStrayFiles(), 3);
  for (const auto& [name, stray] : cases) {
    EXPECT_EQ(fs::exists(frames / name), !stray) << name;
  }
  EXPECT_FALSE(fs::exists(frames / "2025-03-08"));
  EXPECT_FALSE(fs::exists(frames / "2025-03-11"));
  EXPECT_FALSE(fs::exists(frames / "2025-03-07"));
  EXPECT_TRUE(fs::is_directory(frames / "2025-03-06" / "1.vsf"));
  EXPECT_EQ(library->image(1), frame(at(), "").jpeg);
  EXPECT_EQ(library->image(2), frame(at(), "").jpeg);
  EXPECT_EQ(library->removeStrayFiles(), 0);
}

TEST_F(FaultTest, FirstCleanupRemovesStrayFiles) {
  library->store(frame(at(), "one"));
  library->store(frame(at(1), "two"));
  library->remove({2});
  writeFileAtomically(folder() / "frames/2025-03-09/2.vsf", Bytes{1});
  EXPECT_EQ(library->cleanup(RetentionPolicy{30, 1 << 30}, at()), 0);
  EXPECT_FALSE(fs::exists(folder() / "frames/2025-03-09/2.vsf"));
  EXPECT_TRUE(fs::exists(folder() / "frames/2025-03-09/1.vsf"));
}

// While another connection holds the write lock past the busy timeout, a store fails before it
// writes anything, and the next one after the lock is released gets the same identifier.
TEST_F(FaultTest, StoreIntoALockedDatabaseLeavesNothing) {
  library->store(frame(at(), "one"));
  const auto before = filesUnder(folder() / "frames");
  const std::shared_ptr<SQLiteDB> other = inspect();
  other->exec("BEGIN IMMEDIATE");
  const auto started = std::chrono::steady_clock::now();
  try {
    library->store(frame(at(86400), "two"));
    ADD_FAILURE() << "stored into a locked database";
  } catch (const SQLiteError& error) {
    EXPECT_EQ(error.code(), SQLITE_BUSY);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2900));
  other->exec("ROLLBACK");
  EXPECT_EQ(filesUnder(folder() / "frames"), before);
  EXPECT_FALSE(fs::exists(folder() / "frames/2025-03-10"));
  EXPECT_EQ(library->store(frame(at(86400), "two")), 2);
}

// The process may not make files larger than a limit, as on a nearly full disk: the frame file,
// the log at commit, and a deletion's log writes are refused half-way. Runs in a child process so
// that the limit stays there; the parent checks what is left on disk.
TEST_F(FaultTest, WritesRefusedHalfWayLeaveNothingBehind) {
  NewFrame big = frame(at(), "big thumbnail");
  big.thumbnail = noise(200000, 1);
  ASSERT_EQ(library->store(big), 1);
  library->checkpoint();
  library.reset();  // the child opens a connection of its own; none may be inherited
  const auto before = filesUnder(folder() / "frames");

  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    auto say = [&](const std::string& line) {
      const std::string text = line + "\n";
      (void)!::write(report[1], text.data(), text.size());
    };
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      FrameLibrary limited(folder(), keys, Calendar::utc());
      auto attempt = [&](const std::string& name, auto&& body) {
        try {
          body();
          say(name + " succeeded");
        } catch (const std::exception& error) {
          say(name + " failed: " + error.what());
        }
      };
      NewFrame image = frame(at(86400), "big image");
      image.jpeg = noise(150000, 2);
      attempt("image", [&] { limited.store(image); });
      NewFrame thumbnail = frame(at(86400), "big thumbnail");
      thumbnail.thumbnail = noise(150000, 3);
      attempt("thumbnail", [&] { limited.store(thumbnail); });
      attempt("delete", [&] { limited.remove({1}); });
      attempt("small",
              [&] { say("id " + std::to_string(limited.store(frame(at(86400), "small")))); });
    } catch (const std::exception& error) {
      say(std::string("open failed: ") + error.what());
    }
    ::_exit(0);
  }
  ::close(report[1]);
  std::string output;
  char buffer[1024];
  for (ssize_t count; (count = ::read(report[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(report[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;

  EXPECT_NE(output.find("image failed: filesystem error: cannot write file: File too large"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("thumbnail failed: SQLite "), std::string::npos) << output;
  EXPECT_NE(output.find("delete failed: SQLite "), std::string::npos) << output;
  EXPECT_NE(output.find("id 2\nsmall succeeded"), std::string::npos) << output;

  EXPECT_EQ(integrityOf(folder() / "history.sqlite"), "ok");
  library = std::make_shared<FrameLibrary>(folder(), keys, Calendar::utc());
  EXPECT_EQ(count("SELECT COUNT(*) FROM frames"), 2);
  EXPECT_EQ(count("SELECT COUNT(*) FROM frame_index"), 2);
  EXPECT_EQ(count("SELECT COUNT(*) FROM apps"), 1);
  EXPECT_EQ(library->summary(1, SearchQuery{})->thumbnail, big.thumbnail);
  EXPECT_EQ(library->summary(2, SearchQuery{})->meta.lines.at(0).text, "small");
  auto after = before;
  after.insert("2025-03-10/2.vsf");
  EXPECT_EQ(filesUnder(folder() / "frames"), after) << "no file of a failed store stays";
  EXPECT_EQ(library->store(frame(at(2 * 86400), "next")), 3);
}

// A log cut anywhere (a disk that lost its tail, a copy taken mid-write) loses at most the frames
// whose commit was cut off; what opens is whole.
TEST_F(FaultTest, TruncatedLogOpensWithTheFramesCommittedBeforeTheCut) {
  std::vector<NewFrame> stored;
  for (int i = 0; i < 8; ++i) {
    stored.push_back(frame(at(i * 60.0), "frame " + std::to_string(i)));
    stored.back().thumbnail = noise(3000, static_cast<unsigned>(i));
    library->store(stored.back());
  }
  // A copy of the folder as a crash would leave it: database and log, no shared-memory index.
  testing::TemporaryFolder copies;
  const fs::path original = copies.path() / "original";
  fs::copy(folder(), original, fs::copy_options::recursive);
  fs::remove(original / "history.sqlite-shm");
  const auto walSize = static_cast<std::size_t>(fs::file_size(original / "history.sqlite-wal"));
  ASSERT_GT(walSize, 10000u);

  std::size_t previous = 0;
  for (const std::size_t cut : {std::size_t{0}, std::size_t{20}, std::size_t{32}, walSize / 5,
                                walSize / 3, walSize / 2, walSize - 1000, walSize - 1, walSize}) {
    SCOPED_TRACE("log cut to " + std::to_string(cut) + " of " + std::to_string(walSize));
    const fs::path damaged = copies.path() / ("cut-" + std::to_string(cut));
    fs::copy(original, damaged, fs::copy_options::recursive);
    fs::resize_file(damaged / "history.sqlite-wal", cut);
    try {
      FrameLibrary opened(damaged, keys, Calendar::utc());
      const std::vector<FrameStamp> stamps = opened.allStamps();
      ASSERT_LE(stamps.size(), stored.size());
      EXPECT_GE(stamps.size(), previous) << "a longer log holds fewer frames";
      previous = stamps.size();
      for (std::size_t i = 0; i < stamps.size(); ++i) {
        ASSERT_EQ(stamps[i].id, static_cast<std::int64_t>(i + 1)) << "not a prefix";
        EXPECT_EQ(opened.summary(stamps[i].id, SearchQuery{})->meta, stored[i].meta);
        EXPECT_EQ(opened.image(stamps[i].id), stored[i].jpeg);
      }
      if (cut == walSize) {
        EXPECT_EQ(stamps.size(), stored.size());
      }
      EXPECT_EQ(integrityOf(damaged / "history.sqlite"), "ok");
      const std::int64_t next = opened.store(frame(at(3600), "after"));
      EXPECT_EQ(next, static_cast<std::int64_t>(stamps.size() + 1));
      EXPECT_EQ(opened.image(next), frame(at(), "").jpeg);
    } catch (const SQLiteError&) {
      // Acceptable too: a typed error, nothing thrown past the library.
    } catch (const VistrelCryptoError& error) {
      EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::wrongKey);
    }
  }
  EXPECT_EQ(previous, stored.size());
}

// A database file cut short is an SQLiteError at open, never a crash, and the failed open
// leaves the damaged file as it was for whoever tries to rescue it.
TEST_F(FaultTest, DatabaseFileCutShortIsATypedErrorAndStaysAsItWas) {
  for (int i = 0; i < 6; ++i) {
    NewFrame stored = frame(at(i * 60.0), "frame " + std::to_string(i));
    stored.thumbnail = noise(5000, static_cast<unsigned>(i));
    library->store(stored);
  }
  library->checkpoint();
  library.reset();
  testing::TemporaryFolder copies;
  const auto size = static_cast<std::size_t>(fs::file_size(folder() / "history.sqlite"));
  for (const std::size_t cut :
       {std::size_t{50}, std::size_t{100}, std::size_t{4096}, size / 3, size / 2, size - 4096}) {
    SCOPED_TRACE("database cut to " + std::to_string(cut) + " of " + std::to_string(size));
    const fs::path damaged = copies.path() / ("cut-" + std::to_string(cut));
    fs::copy(folder(), damaged, fs::copy_options::recursive);
    fs::remove(damaged / "history.sqlite-wal");
    fs::remove(damaged / "history.sqlite-shm");
    fs::resize_file(damaged / "history.sqlite", cut);
    const Bytes before = readFile(damaged / "history.sqlite");
    try {
      FrameLibrary opened(damaged, keys, Calendar::utc());
      ADD_FAILURE() << "a damaged database opened";
    } catch (const SQLiteError& error) {
      EXPECT_TRUE(error.code() == SQLITE_CORRUPT || error.code() == SQLITE_NOTADB) << error.what();
    }
    EXPECT_EQ(readFile(damaged / "history.sqlite"), before);
  }
}

// A frame file cut short or replaced by another sealed value, and frame rows whose sealed values
// were swapped: the frame is damaged, the other frames are untouched, and no frame ever opens
// with another frame's picture or text.
TEST_F(FaultTest, DamagedOrSwappedFrameFilesAreDamagedNeverAnotherFrame) {
  const NewFrame first = frame(at(), "first frame", "Mail");
  NewFrame second = frame(at(60), "second frame", "Mail");
  second.jpeg = noise(5000, 2);
  second.thumbnail = noise(700, 3);
  library->store(first);
  library->store(second);
  const fs::path file1 = folder() / "frames/2025-03-09/1.vsf";
  const fs::path file2 = folder() / "frames/2025-03-09/2.vsf";
  const Bytes sealed1 = readFile(file1);
  const Bytes sealed2 = readFile(file2);
  Bytes thumb1;
  Bytes meta2;
  Bytes thumb2;
  {
    Statement row = inspect()->prepare("SELECT thumb FROM frames WHERE id = 1");
    ASSERT_TRUE(row.step());
    thumb1 = row.columnBlob(0);
    Statement other = inspect()->prepare("SELECT meta, thumb FROM frames WHERE id = 2");
    ASSERT_TRUE(other.step());
    meta2 = other.columnBlob(0);
    thumb2 = other.columnBlob(1);
  }

  const std::vector<std::pair<std::string, Bytes>> files = {
      {"cut by one byte", Bytes(sealed1.begin(), sealed1.end() - 1)},
      {"cut to the sealing overhead", Bytes(sealed1.begin(), sealed1.begin() + 28)},
      {"cut inside the nonce", Bytes(sealed1.begin(), sealed1.begin() + 5)},
      {"empty", Bytes{}},
      {"the file of frame 2", sealed2},
      {"frame 1's own thumbnail", thumb1},
      {"one byte appended",
       [&] {
         Bytes longer = sealed1;
         longer.push_back(0);
         return longer;
       }()},
  };
  for (const auto& [name, content] : files) {
    SCOPED_TRACE(name);
    writeFileAtomically(file1, content);
    try {
      library->image(1);
      ADD_FAILURE() << "a damaged frame file opened";
    } catch (const VistrelCryptoError& error) {
      EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::damaged);
    }
    EXPECT_EQ(library->summary(1, SearchQuery{})->meta, first.meta);
    EXPECT_EQ(library->image(2), second.jpeg);
  }
  writeFileAtomically(file1, sealed1);
  EXPECT_EQ(library->image(1), first.jpeg);

  // The rows' sealed values swapped between frames.
  inspect()->run("UPDATE frames SET meta = ? WHERE id = 1", {meta2});
  EXPECT_THROW(library->summary(1, SearchQuery{}), VistrelCryptoError);
  const auto hits =
      library->search(SearchQuery::parse("frame"), std::nullopt, std::nullopt, std::nullopt, 10);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].id, 2);
  EXPECT_EQ(hits[0].meta, second.meta);
  inspect()->run(
      "UPDATE frames SET meta = (SELECT meta FROM frames WHERE id = 2), thumb = ? "
      "WHERE id = 1",
      {thumb2});
  EXPECT_THROW(library->summary(1, SearchQuery{}), VistrelCryptoError);
  // The file names swapped: each row now names the other frame's file.
  inspect()->exec(
      "UPDATE frames SET file = CASE id WHEN 1 THEN 'frames/2025-03-09/2.vsf' "
      "ELSE 'frames/2025-03-09/1.vsf' END");
  EXPECT_THROW(library->image(1), VistrelCryptoError);
  EXPECT_THROW(library->image(2), VistrelCryptoError);
}

}  // namespace
}  // namespace vistrel
