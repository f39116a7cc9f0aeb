#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "Vistrel/model/AppModel.h"
#include "tests/Vistrel/model/AppModelFixture.h"

namespace vistrel {
namespace {

using testing::AppModelTest;
using testing::startMoment;

class AppModelActionsTest : public AppModelTest {
 protected:
  // A library with frames at the given offsets (seconds from now), opened by the model.
  void startWithFrames(const std::vector<double>& offsets) {
    auto library = makeLibrary();
    for (const double offset : offsets)
      ids.push_back(library->store(frame(startMoment() + Seconds(offset), "Invoice 4471")));
    library.reset();
    model().start();
    settle();
    ASSERT_NE(inside().library(), nullptr);
  }

  std::vector<std::int64_t> ids;
};

TEST_F(AppModelActionsTest, DeletingAnEmptyStretchSaysZero) {
  startWithFrames({-3600});
  model().deleteRecent(15);
  settle();
  EXPECT_EQ(model().lastNotice(), "Deleted 0 frames.");
  EXPECT_EQ(model().stats().frames, 1);
}

TEST_F(AppModelActionsTest, RecentStretchEndsAMinuteAhead) {
  startWithFrames({-7200, -2, 30, 90});
  model().deleteRecent(60);
  settle();
  EXPECT_EQ(model().lastNotice(), "Deleted 2 frames.");
  EXPECT_EQ(model().stats().frames, 2);
  const auto hits = model().hits();
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].id, ids[3]);
  EXPECT_EQ(hits[1].id, ids[0]);
}

TEST_F(AppModelActionsTest, TodayStartsAtMidnightAndOneFrameIsSingular) {
  startWithFrames({-11 * 3600, -60});
  model().deleteRecent(std::nullopt);
  settle();
  EXPECT_EQ(model().lastNotice(), "Deleted 1 frame.");
  EXPECT_EQ(model().stats().frames, 1);
}

TEST_F(AppModelActionsTest, DeletingRecentFramesResetsTheChangeTest) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_NE(inside().recorder()->last(), std::nullopt);
  model().deleteRecent(5);
  settle();
  EXPECT_EQ(inside().recorder()->last(), std::nullopt);
  EXPECT_EQ(model().lastNotice(), "Deleted 1 frame.");
}

TEST_F(AppModelActionsTest, DeletingOneFrameClosesItsSheet) {
  startWithFrames({-60, -30});
  model().setOpenFrame(OpenFrame{ids[1], SearchQuery::parse("invoice")});
  model().deleteFrame(ids[1]);
  settle();
  EXPECT_EQ(model().openFrame(), std::nullopt);
  EXPECT_EQ(model().lastNotice(), "Deleted the frame.");
  ASSERT_EQ(model().hits().size(), 1u);
  EXPECT_EQ(model().hits()[0].id, ids[0]);
  model().deleteFrame(ids[1]);
  settle();
  EXPECT_EQ(model().lastNotice(), "Deleted the frame.") << "shown also when nothing was there";
}

TEST_F(AppModelActionsTest, ExcludingIgnoresLetterCaseAndEmptyIDs) {
  model().start();
  const VistrelConfig before = model().config();
  model().excludeApp("ORG.KEEPASSXC.KEEPASSXC", "Another KeePassXC");
  model().excludeApp("", "Nameless");
  EXPECT_EQ(model().config(), before);
  EXPECT_EQ(model().lastNotice(), std::nullopt);

  model().excludeApp("org.example.Diary", "Diary");
  ASSERT_EQ(model().config().excludedApps.size(), before.excludedApps.size() + 1);
  EXPECT_EQ(model().config().excludedApps.back(), (ExcludedApp{"org.example.Diary", "Diary"}));
  EXPECT_EQ(model().lastNotice(), "Diary is never recorded now.");
  advance(0.5);
  EXPECT_EQ(ConfigFile::load(inside().configFile()).excludedApps.back().bundleID,
            "org.example.Diary");

  // The next tick takes the new rule.
  probes->state().front =
      FrontWindow{WindowInfo{"org.example.diary", "Diary", std::nullopt}, Point{1, 1}};
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  EXPECT_EQ(inside().skip(), SkipReason::excludedApp("Diary"));
}

TEST_F(AppModelActionsTest, DeletingEverythingWithCaptureOffLeavesNothing) {
  startWithFrames({-60});
  ASSERT_TRUE(keys->load().has_value());
  model().deleteEverything();
  settle();
  EXPECT_EQ(inside().library(), nullptr);
  EXPECT_EQ(inside().recorder(), nullptr);
  EXPECT_EQ(keys->load(), std::nullopt);
  EXPECT_EQ(model().libraryProblem(), std::nullopt);
  EXPECT_TRUE(model().hits().empty());
  EXPECT_EQ(model().stats(), LibraryStats{});
  EXPECT_EQ(model().lastNotice(), "Deleted the whole history and its key.");
  for (const char* name : {"history.sqlite", "history.sqlite-wal", "history.sqlite-shm", "frames"})
    EXPECT_FALSE(std::filesystem::exists(folder.path() / name)) << name;

  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_NE(inside().library(), nullptr);
  EXPECT_TRUE(keys->load().has_value());
  EXPECT_EQ(model().stats().frames, 1);
}

TEST_F(AppModelActionsTest, DeletingEverythingClearsTheKeyProblem) {
  {
    MemoryKeyStore other;
    FrameLibrary::open(folder.path(), other, true, Calendar::utc());
  }
  model().start();
  ASSERT_TRUE(model().libraryProblem().has_value());
  model().deleteEverything();
  EXPECT_EQ(model().libraryProblem(), std::nullopt);
  settle();
  EXPECT_EQ(inside().library(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "history.sqlite"));
}

TEST_F(AppModelActionsTest, DeletingEverythingWithCaptureOnStartsAFreshLibrary) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  const auto oldKey = keys->load();
  ASSERT_TRUE(oldKey.has_value());
  ASSERT_EQ(storedFrames(), 1);
  // A tick in flight while the history goes: its frame must not land in the new library's files.
  inside().recorder()->reset();
  inside().tick();
  model().deleteEverything();
  settle();
  ASSERT_NE(inside().library(), nullptr);
  const auto newKey = keys->load();
  ASSERT_TRUE(newKey.has_value());
  EXPECT_NE(*newKey, *oldKey);
  EXPECT_EQ(model().libraryProblem(), std::nullopt);
  EXPECT_EQ(storedFrames(), 0);
  advance(5);
  EXPECT_EQ(storedFrames(), 1) << "the loop records into the new library";
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path() / "frames"))
    files += entry.is_regular_file();
  EXPECT_EQ(files, 1u);
}

// Another process holding the database's write lock: every write fails (after the busy wait).
class WriteLock {
 public:
  explicit WriteLock(const std::filesystem::path& database) {
    EXPECT_EQ(sqlite3_open(database.c_str(), &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ~WriteLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

TEST_F(AppModelActionsTest, AFailedDeletionSaysSoAndKeepsWhatItCouldNotDelete) {
  startWithFrames({-60, -30});
  model().setOpenFrame(OpenFrame{ids[1], SearchQuery::parse("")});
  {
    WriteLock lock(folder.path() / "history.sqlite");
    model().deleteRecent(5);
    settle();
    EXPECT_EQ(model().lastNotice(), "Couldn't delete: SQLite 5: database is locked");
    model().deleteFrame(ids[1]);
    settle();
    EXPECT_EQ(model().lastNotice(), "Couldn't delete: SQLite 5: database is locked");
  }
  EXPECT_EQ(model().openFrame(), (OpenFrame{ids[1], SearchQuery::parse("")}))
      << "the frame is still there, so its sheet stays";
  EXPECT_EQ(storedFrames(), 2);
  EXPECT_EQ(model().stats().frames, 2);
}

TEST_F(AppModelActionsTest, ACleanupThatCannotRunSaysSoInsteadOfNothingToCleanUp) {
  startWithFrames({-40 * 86400.0, -60});
  change([](VistrelConfig& c) { c.retentionDays = 30; });
  {
    WriteLock lock(folder.path() / "history.sqlite");
    model().cleanUpNow();
    settle();
    EXPECT_EQ(model().lastNotice(), "Couldn't clean up: SQLite 5: database is locked");
  }
  EXPECT_EQ(storedFrames(), 2);
  model().cleanUpNow();
  settle();
  EXPECT_EQ(model().lastNotice(), "Cleaned up 1 frame.");
}

class KeyRemovalFails final : public MemoryKeyStore {
 public:
  void remove() override { throw std::runtime_error("The keyring is locked."); }
};

TEST_F(AppModelActionsTest, DeletingEverythingSaysWhatItCouldNotRemove) {
  keys = std::make_shared<KeyRemovalFails>();
  startWithFrames({-60});
  model().deleteEverything();
  settle();
  EXPECT_EQ(model().lastNotice(), "Couldn't delete: the key: The keyring is locked.");
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "history.sqlite"));
}

TEST_F(AppModelActionsTest, DeletingEverythingDuringASlowJobKeepsTheMainThreadFree) {
  using namespace std::chrono;
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_EQ(storedFrames(), 1);
  recognitionTime = milliseconds(600);
  inside().recorder()->reset();
  inside().tick();
  // Let the screenshot come back so that the slow recognition holds the library.
  const auto started = steady_clock::now();
  while (inside().pendingBackgroundJobs() > 0 && steady_clock::now() - started < seconds(5)) {
    QCoreApplication::processEvents();
    if (inside().pendingBackgroundJobs() == 1 && steady_clock::now() - started > milliseconds(100))
      break;
  }

  duration<double, std::milli> longestStall{0};
  auto timed = [&](auto&& step) {
    const auto before = steady_clock::now();
    step();
    longestStall =
        std::max(longestStall, duration<double, std::milli>(steady_clock::now() - before));
  };
  const auto deleting = steady_clock::now();
  timed([&] { model().deleteEverything(); });
  while (inside().pendingBackgroundJobs() > 0) {
    ASSERT_LT(steady_clock::now() - deleting, seconds(20));
    timed([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    std::this_thread::sleep_for(milliseconds(1));
  }
  const auto took = steady_clock::now() - deleting;
  RecordProperty("longestMainThreadStallMs", std::to_string(longestStall.count()));
  EXPECT_GE(took, milliseconds(300)) << "the deletion waited for the slow job";
  // Waiting for the job would stall for most of its 600 ms; a busy machine adds far less.
  EXPECT_LT(longestStall, milliseconds(300)) << "the main thread never waited for it";
  recognitionTime = milliseconds(0);
  settle();
  EXPECT_EQ(model().lastNotice(), "Deleted the whole history and its key.");
  ASSERT_NE(inside().library(), nullptr);
  EXPECT_EQ(storedFrames(), 0) << "the late frame did not land in the new history";
}

TEST_F(AppModelActionsTest, CopyNoticesCountLinesAndSayWhenThereIsNoClipboard) {
  FrameSummary summary;
  summary.meta.lines = {TextLine{"Invoice 4471", 0, 0, 0.5, 0.1}};
  model().copyText(summary);
  EXPECT_EQ(clipboard->text, "Invoice 4471");
  EXPECT_EQ(model().lastNotice(), "Copied the text of this frame (1 lines).");
  summary.meta.lines.push_back(TextLine{"Due Friday", 0, 0.2, 0.5, 0.1});
  model().copyText(summary);
  EXPECT_EQ(clipboard->text, "Invoice 4471\nDue Friday");
  EXPECT_EQ(model().lastNotice(), "Copied the text of this frame (2 lines).");
  model().copyImage(Image(4, 2, PixelFormat::rgbx));
  EXPECT_EQ(model().lastNotice(), "Copied the frame as an image.");
  ASSERT_TRUE(clipboard->image.has_value());
  EXPECT_EQ(clipboard->image->width(), 4);

  UnavailableClipboard none;
  EXPECT_THROW(none.setText("x"), ClipboardError);
  EXPECT_THROW(none.setImage(Image()), ClipboardError);
}

TEST_F(AppModelActionsTest, OpenAtLoginReportsOnlyFailures) {
  model().setOpenAtLogin(true);
  EXPECT_TRUE(loginItem->enabled);
  EXPECT_EQ(model().lastNotice(), std::nullopt);
  loginItem->failure = "Permission denied";
  model().setOpenAtLogin(false);
  EXPECT_TRUE(loginItem->enabled);
  EXPECT_EQ(model().lastNotice(), "Couldn't change Open at Login: Permission denied");
}

TEST_F(AppModelActionsTest, OpenAtLoginIsReadFromTheDesktopEachTime) {
  EXPECT_FALSE(model().isOpenAtLogin());
  loginItem->enabled = true;  // changed outside the application
  EXPECT_TRUE(model().isOpenAtLogin());
}

TEST_F(AppModelActionsTest, AppsToExcludeLeaveOutThisAppHelpersAndExcludedOnesAndRepeats) {
  change([](VistrelConfig& config) { config.excludedApps = {{"org.example.Vault", "Vault"}}; });
  runningApps->apps = {
      {"org.example.Editor", "Editor", true}, {"com.tevrin77.Vistrel", "Vistrel", true},
      {"ORG.EXAMPLE.VAULT", "Vault", true},   {"org.example.TrayHelper", "Tray Helper", false},
      {"org.example.Editor", "Editor", true}, {"firefox", "Firefox", true},
  };
  const std::vector<RunningApp> expected = {{"org.example.Editor", "Editor", true},
                                            {"firefox", "Firefox", true}};
  EXPECT_EQ(model().appsToExclude(), expected);

  model().excludeApp("Firefox", "Firefox");
  EXPECT_EQ(model().appsToExclude(), std::vector<RunningApp>({expected.front()}));
}

TEST_F(AppModelActionsTest, ShowInTimelineSelectsTheFrame) {
  startWithFrames({-86400 - 60, -86400 - 30, -86400 - 10});
  FrameSummary summary;
  summary.id = ids[1];
  summary.date = startMoment() + Seconds(-86400 - 30);
  model().setOpenFrame(OpenFrame{ids[1], {}});
  model().showInTimeline(summary);
  EXPECT_EQ(model().openFrame(), std::nullopt);
  EXPECT_EQ(model().pane(), Pane::timeline);
  settle();
  ASSERT_EQ(model().timelineStamps().size(), 3u);
  EXPECT_EQ(model().timelineIndex(), 1);
}

TEST_F(AppModelActionsTest, TheTimelineShowsTheNewestRequestAndKeepsTheFrameAskedFor) {
  startWithFrames({-2 * 86400, -86400 - 60, -86400 - 30, -86400 - 10, -60});
  // Two quick day changes: whichever answer comes back first, the later day's stamps stay.
  for (int round = 0; round < 20; ++round) {
    model().setTimelineDay(startMoment() - Seconds(2 * 86400));
    model().loadTimeline(false);
    model().setTimelineDay(startMoment() - Seconds(86400));
    model().loadTimeline(false);
    settle();
    ASSERT_EQ(model().timelineStamps().size(), 3u) << "round " << round;
    ASSERT_EQ(model().timelineStamps().front().id, ids[1]);
  }

  // The screen reloads the new day itself as soon as the day changes; the frame still lands.
  FrameSummary summary;
  summary.id = ids[2];
  summary.date = startMoment() + Seconds(-86400 - 30);
  model().setTimelineDay(startMoment());
  model().loadTimeline(false);
  QObject::connect(&model(), &AppModel::timelineDayChanged, &model(),
                   [this] { model().loadTimeline(false); });
  model().showInTimeline(summary);
  settle();
  ASSERT_EQ(model().timelineStamps().size(), 3u);
  EXPECT_EQ(model().timelineIndex(), 1);
  EXPECT_EQ(model().timelineStamps()[1].id, ids[2]);
  // Later reloads keep their usual rule.
  model().loadTimeline(false);
  settle();
  EXPECT_EQ(model().timelineIndex(), 2);
}

}  // namespace
}  // namespace vistrel
