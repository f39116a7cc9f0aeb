// Kills a process that stores and deletes frames at random moments (SIGKILL: no destructor, no
// rollback, no flush) and checks after every kill that the library opens, is consistent and
// lost nothing that had been confirmed. VISTREL_CRASH_KILLS sets the number of kills (20 by
// default), VISTREL_CRASH_SEED the seed (random by default; printed for a rerun).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "tests/VistrelKit/library/CrashCheck.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long environmentNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

// The driver's output, read while it runs and after it was killed.
class DriverProcess {
 public:
  DriverProcess(const fs::path& folder, const fs::path& keyFile, unsigned seed, bool recorder) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    const std::string folderText = folder.string();
    const std::string keyText = keyFile.string();
    const std::string seedText = std::to_string(seed);
    const char* mode = recorder ? "recorder" : "store";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::execl(VISTREL_CRASH_DRIVER, VISTREL_CRASH_DRIVER, folderText.c_str(), keyText.c_str(),
              seedText.c_str(), mode, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    if (pid_ < 0) {
      throw std::runtime_error("fork failed");
    }
  }
  DriverProcess(const DriverProcess&) = delete;
  DriverProcess& operator=(const DriverProcess&) = delete;
  ~DriverProcess() {
    if (pid_ > 0) {
      kill();
    }
    ::close(out_);
  }

  // Reads until the line appears or the time is up; true when it appeared.
  bool readUntil(const std::string& prefix, Clock::time_point deadline) {
    for (;;) {
      for (; scanned_ < lines_.size(); ++scanned_) {
        if (lines_[scanned_].rfind(prefix, 0) == 0) {
          ++scanned_;
          return true;
        }
      }
      if (!readSome(deadline)) {
        return false;
      }
    }
  }

  void readFor(Clock::duration duration) {
    const Clock::time_point deadline = Clock::now() + duration;
    while (readSome(deadline)) {
    }
  }

  // SIGKILL, then everything it wrote before. Returns the wait status.
  int kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    while (readSome(Clock::now() + std::chrono::seconds(5))) {
    }
    return status;
  }

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  // False at the deadline or at the end of the output.
  bool readSome(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd poller{out_, POLLIN, 0};
    if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t count = ::read(out_, buffer, sizeof buffer);
    if (count <= 0) {
      return false;
    }
    partial_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
      lines_.push_back(partial_.substr(0, end));
      partial_.erase(0, end + 1);
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
  std::size_t scanned_ = 0;
};

// What the library holds, read after a kill.
struct Snapshot {
  std::map<std::int64_t, double> frames;  // id -> ts
  std::int64_t nextID = 1;
  std::int64_t strayRemoved = 0;
};

std::string integrityCheck(SQLiteDB& db) {
  Statement statement = db.prepare("PRAGMA integrity_check");
  std::string result;
  while (statement.step()) {
    result += statement.columnText(0) + ";";
  }
  return result;
}

// Everything that must hold of a library whatever moment its writer died at. Failures are
// reported through gtest; the snapshot is what was found.
Snapshot inspect(const fs::path& folder, const fs::path& keyFile) {
  Snapshot snapshot;
  if (!FrameLibrary::exists(folder)) {
    return snapshot;
  }
  {
    const std::shared_ptr<SQLiteDB> db = SQLiteDB::open(FrameLibrary::databaseURL(folder));
    EXPECT_EQ(integrityCheck(*db), "ok;");
    bool hasIndex = false;
    {
      Statement tables =
          db->prepare("SELECT COUNT(*) FROM sqlite_master WHERE name = 'frame_index'");
      hasIndex = tables.step() && tables.columnInt(0) == 1;
    }
    if (!hasIndex) {
      // Killed while the first open laid down the schema: nothing may have been stored yet.
      Statement frames = db->prepare("SELECT COUNT(*) FROM sqlite_master WHERE name = 'frames'");
      if (frames.step() && frames.columnInt(0) == 1) {
        Statement count = db->prepare("SELECT COUNT(*) FROM frames");
        EXPECT_TRUE(count.step() && count.columnInt(0) == 0);
      }
    } else {
      EXPECT_NO_THROW(db->exec("INSERT INTO frame_index(frame_index) VALUES('integrity-check')"));
      std::set<std::int64_t> indexed;
      Statement index = db->prepare("SELECT rowid FROM frame_index");
      while (index.step()) {
        indexed.insert(index.columnInt(0));
      }
      std::set<Bytes> tags;
      std::set<std::int64_t> ids;
      Statement frames = db->prepare("SELECT id, app_tag FROM frames");
      while (frames.step()) {
        ids.insert(frames.columnInt(0));
        tags.insert(frames.columnBlob(1));
      }
      std::set<Bytes> apps;
      Statement appRows = db->prepare("SELECT tag FROM apps");
      while (appRows.step()) {
        apps.insert(appRows.columnBlob(0));
      }
      EXPECT_EQ(indexed, ids) << "every frame has exactly its index row";
      EXPECT_EQ(apps, tags) << "every frame's application has its row, and no other row stays";
    }
  }

  KeyFileStore keyStore(keyFile);
  std::shared_ptr<FrameLibrary> library;
  try {
    library = FrameLibrary::open(folder, keyStore, false, Calendar::utc());
  } catch (const std::exception& error) {
    ADD_FAILURE() << "the library does not open after a kill: " << error.what();
    return snapshot;
  }
  if (!library) {
    ADD_FAILURE() << "the database file exists but the library does not open";
    return snapshot;
  }

  for (const FrameStamp& stamp : library->allStamps()) {
    const std::int64_t id = stamp.id;
    snapshot.frames[id] = secondsSince1970(stamp.date);
    try {
      const std::optional<FrameSummary> summary = library->summary(id, SearchQuery{});
      const std::optional<Bytes> image = library->image(id);
      if (!summary || !image || summary->meta.lines.empty()) {
        ADD_FAILURE() << "frame " << id << " is incomplete";
        continue;
      }
      const std::string& first = summary->meta.lines.front().text;
      if (first.rfind("image ", 0) == 0) {
        EXPECT_EQ(first, "image " + crash::hashText(crash::byteHash(*image)))
            << "frame " << id << " opens with another frame's image";
      } else {
        const std::optional<Image> decoded = Imaging::decodeJPEG(*image);
        EXPECT_TRUE(decoded && decoded->width() == summary->meta.width &&
                    decoded->height() == summary->meta.height)
            << "recorded frame " << id << " has a broken image";
      }
    } catch (const std::exception& error) {
      ADD_FAILURE() << "frame " << id << " does not open: " << error.what();
    }
  }

  {
    const std::shared_ptr<SQLiteDB> db = SQLiteDB::open(FrameLibrary::databaseURL(folder));
    Statement next = db->prepare("SELECT v FROM info WHERE k = 'next_id'");
    if (next.step()) {
      snapshot.nextID = next.columnInt(0);
    }
  }
  const std::int64_t highest = snapshot.frames.empty() ? 0 : snapshot.frames.rbegin()->first;
  EXPECT_GT(snapshot.nextID, highest);

  // Files of crashed stores and deletions go; nothing below the next identifier stays unnamed.
  snapshot.strayRemoved = library->removeStrayFiles();
  std::set<std::string> named;
  for (const auto& [id, ts] : snapshot.frames) {
    (void)ts;
    named.insert(std::to_string(id) + ".vsf");
  }
  for (const auto& day : fs::directory_iterator(folder / "frames")) {
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(day.path())) {
      ++entries;
      const std::string name = entry.path().filename().string();
      if (named.contains(name)) {
        continue;
      }
      const std::int64_t id = std::strtoll(name.c_str(), nullptr, 10);
      EXPECT_GE(id, snapshot.nextID) << "stray file " << entry.path() << " survived";
    }
    EXPECT_GT(entries, 0u) << "empty day folder " << day.path();
  }
  return snapshot;
}

struct Figures {
  int kills = 0;
  int killedDuringOpen = 0;
  int killedDuringStore = 0;
  int killedDuringDelete = 0;
  int killedDuringCleanup = 0;
  int killedBetweenSteps = 0;
  long storesConfirmed = 0;
  long deletesConfirmed = 0;
  long framesLost = 0;
  long identifiersReused = 0;
  long strayFilesRemoved = 0;
  long framesChecked = 0;
};

TEST(CrashSafetyTest, KilledWriterLosesNothingAndLeavesAConsistentLibrary) {
  const int kills = static_cast<int>(environmentNumber("VISTREL_CRASH_KILLS", 20));
  const auto seed = static_cast<unsigned>(environmentNumber(
      "VISTREL_CRASH_SEED", static_cast<long>(std::random_device{}() & 0xffffff)));
  std::cout << "crash seed " << seed << " (VISTREL_CRASH_SEED to repeat)\n";
  std::mt19937 random(seed);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };

  testing::TemporaryFolder temporary;
  const fs::path folder = temporary.path() / "data" / "Vistrel";
  const fs::path keyFile = temporary.path() / "config" / "history-key";

  std::map<std::int64_t, double> known;  // frames that must be in the library
  std::set<std::int64_t> handedOut;      // every identifier ever confirmed or found
  Figures figures;

  for (int cycle = 0; cycle < kills && !::testing::Test::HasFailure(); ++cycle) {
    SCOPED_TRACE("kill " + std::to_string(cycle + 1) + ", seed " + std::to_string(seed));
    DriverProcess driver(folder, keyFile, seed * 1000u + static_cast<unsigned>(cycle),
                         cycle % 2 == 1);
    if (pick(0, 5) == 0) {
      driver.readFor(std::chrono::milliseconds(pick(0, 40)));
    } else {
      ASSERT_TRUE(driver.readUntil("ready", Clock::now() + std::chrono::seconds(20)))
          << "the driver did not start";
      driver.readFor(std::chrono::milliseconds(pick(0, 250)));
    }
    const int status = driver.kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the driver ended on its own, status " << status;
    ++figures.kills;

    // Replay what the driver confirmed.
    enum class InFlight { opening, nothing, store, remove, cleanup } inFlight = InFlight::opening;
    std::set<std::int64_t> pending;
    for (const std::string& line : driver.lines()) {
      std::istringstream words(line);
      std::string word;
      words >> word;
      if (word == "ready") {
        std::size_t count = 0;
        words >> count;
        EXPECT_EQ(count, known.size()) << "the driver found another library than was checked";
        inFlight = InFlight::nothing;
      } else if (word == "storing") {
        inFlight = InFlight::store;
      } else if (word == "stored") {
        std::int64_t id = 0;
        std::string ts;
        words >> id >> ts;
        if (!handedOut.insert(id).second) {
          ++figures.identifiersReused;
          ADD_FAILURE() << "identifier " << id << " handed out twice";
        }
        known[id] = std::strtod(ts.c_str(), nullptr);
        ++figures.storesConfirmed;
        inFlight = InFlight::nothing;
      } else if (word == "removing") {
        pending.clear();
        for (std::int64_t id; words >> id;) {
          if (known.contains(id)) {
            pending.insert(id);
          }
        }
        inFlight = InFlight::remove;
      } else if (word == "range") {
        std::string start, end;
        words >> start >> end;
        const double from = std::strtod(start.c_str(), nullptr);
        const double to = std::strtod(end.c_str(), nullptr);
        pending.clear();
        for (const auto& [id, ts] : known) {
          if (ts >= from && ts < to) {
            pending.insert(id);
          }
        }
        inFlight = InFlight::remove;
      } else if (word == "cleanup") {
        inFlight = InFlight::cleanup;
      } else if (word == "removed") {
        std::size_t count = 0;
        words >> count;
        if (inFlight == InFlight::remove) {
          EXPECT_EQ(count, pending.size()) << line;
          for (const std::int64_t id : pending) {
            known.erase(id);
          }
        } else {
          std::vector<std::pair<double, std::int64_t>> oldest;
          for (const auto& [id, ts] : known) {
            oldest.emplace_back(ts, id);
          }
          std::sort(oldest.begin(), oldest.end());
          ASSERT_LE(count, oldest.size());
          for (std::size_t i = 0; i < count; ++i) {
            known.erase(oldest[i].second);
          }
        }
        ++figures.deletesConfirmed;
        inFlight = InFlight::nothing;
      }
    }
    switch (inFlight) {
      case InFlight::opening:
        ++figures.killedDuringOpen;
        break;
      case InFlight::nothing:
        ++figures.killedBetweenSteps;
        break;
      case InFlight::store:
        ++figures.killedDuringStore;
        break;
      case InFlight::remove:
        ++figures.killedDuringDelete;
        break;
      case InFlight::cleanup:
        ++figures.killedDuringCleanup;
        break;
    }

    const Snapshot found = inspect(folder, keyFile);
    figures.strayFilesRemoved += found.strayRemoved;
    figures.framesChecked += static_cast<long>(found.frames.size());

    // A deletion in flight happened entirely or not at all.
    std::set<std::int64_t> gone;
    for (const auto& [id, ts] : known) {
      if (!found.frames.contains(id)) {
        gone.insert(id);
      }
    }
    if (inFlight == InFlight::remove) {
      const bool none = std::none_of(pending.begin(), pending.end(),
                                     [&](std::int64_t id) { return gone.contains(id); });
      const bool all = std::all_of(pending.begin(), pending.end(),
                                   [&](std::int64_t id) { return gone.contains(id); });
      EXPECT_TRUE(none || all) << "an interrupted deletion was applied in part";
      if (all) {
        for (const std::int64_t id : pending) {
          gone.erase(id);
          known.erase(id);
        }
      }
    } else if (inFlight == InFlight::cleanup) {
      std::vector<std::pair<double, std::int64_t>> oldest;
      for (const auto& [id, ts] : known) {
        oldest.emplace_back(ts, id);
      }
      std::sort(oldest.begin(), oldest.end());
      for (std::size_t i = 0; i < gone.size() && i < oldest.size(); ++i) {
        EXPECT_TRUE(gone.contains(oldest[i].second)) << "cleanup removed a frame out of order";
      }
      for (const std::int64_t id : gone) {
        known.erase(id);
      }
      gone.clear();
    }
    figures.framesLost += static_cast<long>(gone.size());
    for (const std::int64_t id : gone) {
      ADD_FAILURE() << "confirmed frame " << id << " is gone";
      known.erase(id);
    }

    // At most the store in flight committed without being confirmed; its identifier is new.
    for (const auto& [id, ts] : found.frames) {
      if (known.contains(id)) {
        EXPECT_EQ(ts, known[id]) << "frame " << id << " changed its time";
        continue;
      }
      EXPECT_EQ(inFlight, InFlight::store) << "frame " << id << " appeared from nowhere";
      EXPECT_TRUE(handedOut.empty() || id > *handedOut.rbegin())
          << "identifier " << id << " handed out twice";
      handedOut.insert(id);
      known[id] = ts;
      inFlight = InFlight::nothing;
    }
    EXPECT_TRUE(handedOut.empty() || found.nextID > *handedOut.rbegin());
  }

  std::cout << "kills " << figures.kills << " (during open " << figures.killedDuringOpen
            << ", store " << figures.killedDuringStore << ", delete " << figures.killedDuringDelete
            << ", cleanup " << figures.killedDuringCleanup << ", between steps "
            << figures.killedBetweenSteps << ")\n"
            << "confirmed stores " << figures.storesConfirmed << ", confirmed deletions "
            << figures.deletesConfirmed << ", frames checked " << figures.framesChecked << "\n"
            << "frames lost " << figures.framesLost << ", identifiers handed out twice "
            << figures.identifiersReused << ", stray files removed " << figures.strayFilesRemoved
            << "\n";
  EXPECT_EQ(figures.kills, kills);
  EXPECT_GT(figures.storesConfirmed, 0);
}

}  // namespace
}  // namespace vistrel
