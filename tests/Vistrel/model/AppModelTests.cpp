#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDBusObjectPath>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>

#include "Vistrel/model/AppModel.h"
#include "Vistrel/platform/linux/X11Probes.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/PlatformKeyStore.h"
#include "tests/Vistrel/model/AppModelFixture.h"
#include "tests/support/FakeSessionBus.h"
#include "tests/support/ScopedEnvironment.h"

namespace vistrel {
namespace {

using testing::AppModelTest;
using testing::startMoment;

constexpr const char* keyMissing =
    "Vistrel's key is missing from the keyring, so the saved history can't be read. Delete the "
    "history in Storage to start fresh.";

bool isSkip(const TickReport& report, SkipReason::Kind kind) {
  return report.kind == TickReport::Kind::skipped && report.skip && report.skip->kind() == kind;
}

// MARK: - Start-up

TEST_F(AppModelTest, FirstLaunchKeepsDefaultsAndCreatesNothing) {
  model().start();
  advance(5);
  EXPECT_EQ(model().config(), VistrelConfig{});
  EXPECT_EQ(inside().library(), nullptr);
  EXPECT_EQ(model().libraryProblem(), std::nullopt);
  EXPECT_EQ(inside().skip(), SkipReason::off());
  EXPECT_EQ(model().lastNotice(), std::nullopt);
  EXPECT_EQ(keys->load(), std::nullopt);
  EXPECT_FALSE(inside().isLoopRunning());
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "history.sqlite"));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "config.json"));
  EXPECT_EQ(grabber().grabbed, Shortcut::defaultPause);
  EXPECT_FALSE(model().shortcutRefused());
  EXPECT_EQ(model().statusLine(), "Capture is off");
  EXPECT_EQ(model().menuBarSymbol(), "rewind.circle");
}

TEST_F(AppModelTest, SavedCaptureOnCreatesLibraryAndKeyAndRecords) {
  VistrelConfig saved;
  saved.captureEnabled = true;
  saved.interval = 3;
  writeConfig(saved);
  model().start();
  settle();
  ASSERT_NE(inside().library(), nullptr);
  EXPECT_TRUE(keys->load().has_value());
  EXPECT_TRUE(inside().isLoopRunning());
  EXPECT_TRUE(model().config().onboardingDone);
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(inside().lastFrameAt(), startMoment());
  EXPECT_EQ(storedFrames(), 1);
  EXPECT_EQ(model().stats().frames, 1);
  EXPECT_TRUE(model().isRecording());
  EXPECT_EQ(model().menuBarSymbol(), "record.circle.fill");
  EXPECT_EQ(model().statusLine(), "Recording · last change saved 10:00:00");
}

TEST_F(AppModelTest, LibraryWhoseKeyIsGoneIsAProblemAndGetsNoNewKey) {
  {
    MemoryKeyStore other;
    FrameLibrary::open(folder.path(), other, true, Calendar::utc());
  }
  model().start();
  settle();
  EXPECT_EQ(inside().library(), nullptr);
  EXPECT_EQ(model().libraryProblem(), keyMissing);
  EXPECT_EQ(keys->load(), std::nullopt);
  EXPECT_EQ(model().statusLine(), "The history can't be opened");
  model().setSearchText("invoice");
  model().runSearch(true);
  EXPECT_TRUE(model().hits().empty());
  EXPECT_EQ(inside().pendingBackgroundJobs(), 0) << "no search job without a library";
}

// Tests run as root, so unreadable permissions would not stop them: these are failures no
// user can read past.
class AppModelDataFolderTest : public AppModelTest,
                               public ::testing::WithParamInterface<const char*> {};

TEST_P(AppModelDataFolderTest, ADataFolderThatCannotBeReadIsALibraryProblemNotAnException) {
  const std::filesystem::path place = folder.path() / "Vistrel";
  if (std::string_view(GetParam()) == "file")
    std::ofstream(place) << "not a folder";
  else
    std::filesystem::create_symlink(place, place);  // a link to itself: a loop
  dataFolder = place;
  ASSERT_NO_THROW(model().start());
  settle();
  ASSERT_TRUE(model().libraryProblem().has_value());
  EXPECT_TRUE(model().libraryProblem()->starts_with("Couldn't read the data folder: "))
      << *model().libraryProblem();
  EXPECT_FALSE(model().isLibraryOpen());
  EXPECT_EQ(model().statusLine(), "The history can't be opened");
  EXPECT_EQ(inside().skip(), SkipReason::off());

  // Turning capture on cannot make a library there either, and says so instead of throwing.
  ASSERT_NO_THROW(change([](VistrelConfig& config) { config.captureEnabled = true; }));
  settle();
  EXPECT_FALSE(model().isLibraryOpen());
  EXPECT_TRUE(model().libraryProblem().has_value());
}

INSTANTIATE_TEST_SUITE_P(Kinds, AppModelDataFolderTest, ::testing::Values("file", "loop"));

TEST_F(AppModelTest, TheKeyPlaceIsTheKeyFileTheStoreReadsElseTheKeyring) {
  EXPECT_EQ(model().keyPlace(), texts::KeyPlace::keyring);
  EXPECT_EQ(model().keyFile(), std::nullopt);
}

TEST_F(AppModelTest, AKeyFileWhoseKeyIsGoneIsNamedInTheProblem) {
  testing::TemporaryFolder keyFolder;
  const std::filesystem::path keyPath = keyFolder.path() / "history-key";
  keyStore = std::make_shared<KeyFileStore>(keyPath);
  {
    MemoryKeyStore other;
    FrameLibrary::open(folder.path(), other, true, Calendar::utc());
  }
  model().start();
  settle();
  EXPECT_EQ(model().keyPlace(), texts::KeyPlace::keyFile);
  EXPECT_EQ(model().keyFile(), keyPath);
  EXPECT_EQ(model().libraryProblem(), texts::keyMissingProblem(texts::KeyPlace::keyFile));
  EXPECT_FALSE(std::filesystem::exists(keyPath)) << "no new key for an existing library";
}

// The platform's key store on a private bus: with no Secret Service at all, or with one that
// owns its name and never answers.
class PlatformKeyStoreModelTest : public AppModelTest {
 protected:
  void usePlatformKeyStore() {
    keyStore = makePlatformKeyStore({.dataFolder = folder.path(),
                                     .probeTimeout = std::chrono::milliseconds(200),
                                     .probeTries = 2});
  }

  std::filesystem::path keyFilePath() const {
    return configHome.path() / "Vistrel" / "history-key";
  }

  testing::TemporaryFolder configHome;
  ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().c_str()};
  testing::PrivateBus bus{false};
  ScopedEnvironment address{"DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8().constData()};
};

// A Secret Service slow to answer its first call (still starting) is found by a later look, so
// no key file is chosen for a desktop that has a keyring.
TEST_F(PlatformKeyStoreModelTest, ASecretServiceThatMissesTheFirstLookIsFoundByALaterOne) {
  for (int tries : {1, 3}) {
    SCOPED_TRACE(tries);
    std::atomic<int> calls{0};
    testing::FakeService secrets(
        bus.address(), QStringLiteral("org.freedesktop.secrets"),
        QStringLiteral("/org/freedesktop/secrets"),
        [&calls](const QDBusMessage& call) -> std::optional<QVariantList> {
          if (call.member() != QStringLiteral("ReadAlias") || ++calls == 1)
            return std::nullopt;
          return QVariantList{QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))};
        },
        true);
    PlatformKeyStore store({.dataFolder = folder.path(),
                            .probeTimeout = std::chrono::milliseconds(300),
                            .probeTries = tries});
    if (tries == 1) {
      EXPECT_EQ(store.description(), "Secret Service (not answering)");
    } else {
      EXPECT_EQ(store.description(), "Secret Service (default keyring)");
    }
    EXPECT_EQ(store.keyFile(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(keyFilePath()));
  }
}

TEST_F(PlatformKeyStoreModelTest, WithoutASecretServiceTheKeyFileIsMadeAndTheUserIsTold) {
  usePlatformKeyStore();
  VistrelConfig saved;
  saved.captureEnabled = true;
  writeConfig(saved);
  model().start();
  settle();

  ASSERT_NE(inside().library(), nullptr);
  ASSERT_TRUE(std::filesystem::exists(keyFilePath()));
  EXPECT_EQ(std::filesystem::status(keyFilePath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(model().keyFile(), keyFilePath());
  EXPECT_EQ(model().keyPlace(), texts::KeyPlace::keyFileWithoutKeyring);
  EXPECT_EQ(model().lastNotice(), texts::keyFileWithoutKeyringNotice(keyFilePath().string()));
}

TEST_F(PlatformKeyStoreModelTest, ASilentSecretServiceIsUnreachableNeverAMissingKey) {
  testing::SilentService secrets(bus.address(), QStringLiteral("org.freedesktop.secrets"));
  {
    MemoryKeyStore other;
    FrameLibrary::open(folder.path(), other, true, Calendar::utc());
  }
  const auto database = folder.path() / "history.sqlite";
  const auto sizeBefore = std::filesystem::file_size(database);
  const auto writtenBefore = std::filesystem::last_write_time(database);
  usePlatformKeyStore();
  model().start();
  settle();

  EXPECT_EQ(inside().library(), nullptr);
  EXPECT_EQ(model().libraryProblem(), texts::keyStoreUnreachable(-3024));
  EXPECT_EQ(model().libraryProblem()->find("Delete"), std::string::npos);
  EXPECT_EQ(model().statusLine(), "The history can't be opened");
  EXPECT_EQ(model().keyPlace(), texts::KeyPlace::keyring);
  EXPECT_FALSE(std::filesystem::exists(keyFilePath()));
  EXPECT_EQ(std::filesystem::file_size(database), sizeBefore);
  EXPECT_EQ(std::filesystem::last_write_time(database), writtenBefore);
}

TEST_F(PlatformKeyStoreModelTest, CaptureWithASilentSecretServiceCreatesNothing) {
  testing::SilentService secrets(bus.address(), QStringLiteral("org.freedesktop.secrets"));
  usePlatformKeyStore();
  VistrelConfig saved;
  saved.captureEnabled = true;
  writeConfig(saved);
  model().start();
  settle();

  EXPECT_EQ(inside().library(), nullptr);
  EXPECT_EQ(model().libraryProblem(), texts::keyStoreUnreachable(-3024));
  EXPECT_FALSE(std::filesystem::exists(keyFilePath()));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "history.sqlite"));
}

TEST_F(AppModelTest, OtherOpenErrorsNameTheError) {
  // A file where the library's folder should be.
  std::filesystem::create_directories(folder.path() / "history.sqlite");
  keys->save(MasterKey(MasterKey::Storage{}));
  EXPECT_FALSE(inside().openLibrary(true));
  ASSERT_TRUE(model().libraryProblem().has_value());
  EXPECT_EQ(model().libraryProblem()->rfind("Couldn't open the history: ", 0), 0u)
      << *model().libraryProblem();
  EXPECT_EQ(inside().library(), nullptr);
}

TEST_F(AppModelTest, AssigningAnEqualValueNotifiesNobody) {
  int configChanges = 0, paneChanges = 0;
  QObject::connect(&model(), &AppModel::configChanged, &model(), [&] { ++configChanges; });
  QObject::connect(&model(), &AppModel::paneChanged, &model(), [&] { ++paneChanges; });
  model().setConfig(model().config());
  model().setPane(Pane::search);
  EXPECT_EQ(configChanges, 0);
  EXPECT_EQ(paneChanges, 0);
  model().setPane(Pane::storage);
  change([](VistrelConfig& c) { c.interval = 9; });
  EXPECT_EQ(configChanges, 1);
  EXPECT_EQ(paneChanges, 1);
  EXPECT_TRUE(inside().isSavePending());
  advance(0.39);
  EXPECT_FALSE(std::filesystem::exists(inside().configFile()));
  advance(0.02);
  EXPECT_EQ(ConfigFile::load(inside().configFile()).interval, 9);
}

TEST_F(AppModelTest, ASettingsFileReadWithLossesIsNotRewrittenUntilTheUserChangesASetting) {
  const std::filesystem::path file = folder.path() / "config.json";
  const std::string text =
      R"({"captureEnabled": false, "excludedApps": [{"bundleID": "org.example.Vault", "name": )"
      R"("Vault"}, {"bundleID": 7}, {"bundleID": "org.example.Bank", "name": "Bank"}]})";
  std::ofstream(file) << text;
  const auto readBack = [](const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  model().start();
  EXPECT_EQ(
      model().config().excludedApps,
      (std::vector<ExcludedApp>{{"org.example.Vault", "Vault"}, {"org.example.Bank", "Bank"}}));
  advance(5);
  model().shutdown();
  EXPECT_EQ(readBack(file), text) << "neither the load nor the shutdown rewrote it";
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "config.json.broken"));

  change([](VistrelConfig& c) { c.interval = 9; });
  advance(5);
  EXPECT_EQ(readBack(folder.path() / "config.json.broken"), text);
  const ConfigFile::Reading saved = ConfigFile::readFile(file);
  EXPECT_TRUE(saved.exact);
  EXPECT_EQ(saved.config.interval, 9);
  EXPECT_EQ(saved.config.excludedApps.size(), 2u);
}

TEST_F(AppModelTest, ChangedShortcutIsRegisteredAndARefusalIsShown) {
  model().start();
  const Shortcut other{31, Modifiers::control | Modifiers::option};
  grabber().answer = HotkeyGrabber::Result::taken;
  change([&](VistrelConfig& c) { c.pauseShortcut = other; });
  EXPECT_TRUE(model().shortcutRefused());
  EXPECT_EQ(grabber().grabbed, std::nullopt);
  grabber().answer = HotkeyGrabber::Result::grabbed;
  change([&](VistrelConfig& c) { c.pauseShortcut = Shortcut::defaultPause; });
  EXPECT_FALSE(model().shortcutRefused());
  EXPECT_EQ(grabber().grabbed, Shortcut::defaultPause);
  model().shutdown();
  EXPECT_EQ(grabber().grabbed, std::nullopt);
  EXPECT_EQ(ConfigFile::load(inside().configFile()).pauseShortcut, Shortcut::defaultPause);
}

TEST_F(AppModelTest, HotKeysUnavailableIsNotARefusal) {
  grabber().answer = HotkeyGrabber::Result::unavailable;
  model().start();
  EXPECT_TRUE(model().hotkeysUnavailable());
  EXPECT_FALSE(model().shortcutRefused());
  grabber().answer = HotkeyGrabber::Result::taken;
  model().resumeShortcut();
  EXPECT_FALSE(model().hotkeysUnavailable());
  EXPECT_TRUE(model().shortcutRefused());
}

TEST_F(AppModelTest, TheShortcutRecorderSuspendsAndReappliesTheHotKey) {
  model().start();
  ASSERT_EQ(grabber().grabbed, Shortcut::defaultPause);
  model().suspendShortcut();
  EXPECT_EQ(grabber().grabbed, std::nullopt);
  model().resumeShortcut();
  EXPECT_EQ(grabber().grabbed, Shortcut::defaultPause);
  EXPECT_FALSE(model().shortcutRefused());
}

TEST_F(AppModelTest, HotKeyTogglesThePause) {
  model().start();
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  grabber().pressed();
  settle();
  EXPECT_TRUE(model().isPaused());
  EXPECT_EQ(model().config().pausedUntil, distantFuture);
  EXPECT_EQ(model().lastNotice(), "Paused until you resume");
  grabber().pressed();
  settle();
  EXPECT_FALSE(model().isPaused());
  EXPECT_EQ(model().lastNotice(), "Capture resumed.");
}

// MARK: - The capture loop

TEST_F(AppModelTest, AProbeWithoutAnAnswerSkipsTheTickAndSaysWhy) {
  const struct {
    bool testing::FakeProbes::State::*unknown;
    const char* message;
  } cases[] = {
      {&testing::FakeProbes::State::lockUnknown,
       "Skipped: can't tell whether the screen is locked"},
      {&testing::FakeProbes::State::idleUnknown,
       "Skipped: can't tell how long the computer has been idle"},
      {&testing::FakeProbes::State::frontUnknown, "Skipped: can't tell which window is in front"},
      {&testing::FakeProbes::State::secureInputUnknown,
       "Skipped: can't tell whether a password field is active"},
  };
  change([](VistrelConfig& c) {
    c.captureEnabled = true;
    c.stopWhenIdle = true;
  });
  settle();
  // Turning capture on took the first screenshot.
  const std::size_t taken = probes->captures().size();
  for (const auto& c : cases) {
    probes->state().*c.unknown = true;
    inside().tick();
    settle();
    ASSERT_TRUE(isSkip(ticks.back(), SkipReason::Kind::unknown)) << c.message;
    EXPECT_EQ(inside().skip()->message(), c.message);
    EXPECT_EQ(probes->captures().size(), taken) << c.message << ": no screenshot";
    probes->state().*c.unknown = false;
  }

  // An idle time or password check the user switched off is not asked, so it cannot stop them.
  change([](VistrelConfig& c) {
    c.stopWhenIdle = false;
    c.skipSecureInput = false;
  });
  probes->state().idleUnknown = true;
  probes->state().secureInputUnknown = true;
  inside().tick();
  settle();
  EXPECT_EQ(inside().skip(), std::nullopt) << ticks.back().describe();
  EXPECT_EQ(probes->captures().size(), taken + 1);
}

TEST_F(AppModelTest, TickChecksInOrder) {
  model().start();
  inside().tick();
  ASSERT_TRUE(isSkip(ticks.back(), SkipReason::Kind::off));

  // Every reason at once, then one removed at a time: each tick names the first that remains.
  {
    auto lock = probes->lock();
    probes->state().permission = false;
    probes->state().lockedOrAsleep = true;
    probes->state().idle = 3 * 60 + 1;
    probes->state().secureInput = true;
    probes->state().front =
        FrontWindow{WindowInfo{"org.keepassxc.KeePassXC", "KeePassXC", "Passwords"}, Point{5, 5}};
  }
  // Capture on starts the loop with its first tick; the clock stands still, so the ticks below
  // are the test's own.
  change([](VistrelConfig& c) {
    c.captureEnabled = true;
    c.pausedUntil = startMoment() + Seconds(600);
  });
  settle();
  ASSERT_TRUE(isSkip(ticks.back(), SkipReason::Kind::paused));
  struct Step {
    SkipReason::Kind expected;
    std::function<void()> clear;
  };
  const std::vector<Step> steps = {
      {SkipReason::Kind::paused, [&] { change([](VistrelConfig& c) { c.pausedUntil.reset(); }); }},
      {SkipReason::Kind::noPermission, [&] { probes->state().permission = true; }},
      {SkipReason::Kind::locked, [&] { probes->state().lockedOrAsleep = false; }},
      {SkipReason::Kind::idle, [&] { probes->state().idle = 10; }},
      {SkipReason::Kind::secureInput, [&] { probes->state().secureInput = false; }},
      {SkipReason::Kind::excludedApp,
       [&] {
         probes->state().front = FrontWindow{
             WindowInfo{"com.tevrin77.Vistrel", "Vistrel", std::string("Vistrel")}, Point{5, 5}};
       }},
      {SkipReason::Kind::ownApp, [&] { probes->state().front = ordinaryWindow(); }},
  };
  for (const Step& step : steps) {
    inside().tick();
    settle();
    ASSERT_TRUE(isSkip(ticks.back(), step.expected)) << ticks.back().describe();
    EXPECT_EQ(inside().skip()->kind(), step.expected);
    EXPECT_TRUE(probes->captures().empty()) << "no screenshot before every check passed";
    step.clear();
  }
  inside().tick();
  settle();
  EXPECT_EQ(ticks.back().describe(), "Stored frame 1 (1 line)");
  EXPECT_EQ(inside().skip(), std::nullopt);
  ASSERT_EQ(probes->captures().size(), 1u);
  EXPECT_EQ(probes->captures()[0].center, (Point{100, 100}));
  // Taken as wide as text is read; the recorder scales it to the 1600 pixels kept.
  EXPECT_EQ(probes->captures()[0].maxWidth, Recorder::textReadingWidth);
  EXPECT_EQ(probes->captures()[0].rules.ownBundleID(), "com.tevrin77.Vistrel");

  auto library = inside().library();
  const auto hits = library->search(SearchQuery::parse("invo 4471"), std::nullopt, std::nullopt,
                                    std::nullopt, 10);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].meta.appName, "Editor");
  EXPECT_EQ(hits[0].meta.bundleID, "org.example.Editor");
  EXPECT_EQ(hits[0].meta.title, "notes.txt");
  EXPECT_EQ(hits[0].date, startMoment());
}

TEST_F(AppModelTest, IdleCountsOnlyWhenStopWhenIdleIsOn) {
  probes->state().idle = 3600;
  change([](VistrelConfig& c) {
    c.captureEnabled = true;
    c.stopWhenIdle = false;
  });
  settle();
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0].kind, TickReport::Kind::recorded);
}

TEST_F(AppModelTest, WithoutPermissionTheWalkthroughIsShownAndTheLoopWaits) {
  probes->state().permission = false;
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  EXPECT_EQ(model().pane(), Pane::capture);
  EXPECT_FALSE(model().screenRecording());
  EXPECT_TRUE(inside().isLoopRunning());
  EXPECT_EQ(inside().skip(), SkipReason::noPermission());
  EXPECT_EQ(model().statusLine(), "Waiting for screen access");
  EXPECT_EQ(model().menuBarSymbol(), "exclamationmark.triangle");
  probes->state().permission = true;
  advance(5);
  EXPECT_TRUE(model().screenRecording());
  EXPECT_EQ(storedFrames(), 1);
}

TEST_F(AppModelTest, NoLibraryToRecordIntoSkipsAsOff) {
  {
    MemoryKeyStore other;
    FrameLibrary::open(folder.path(), other, true, Calendar::utc());
  }
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_FALSE(ticks.empty());
  EXPECT_TRUE(isSkip(ticks.back(), SkipReason::Kind::off));
  EXPECT_EQ(model().statusLine(), "The history can't be opened");
  EXPECT_TRUE(probes->captures().empty());
}

TEST_F(AppModelTest, NothingInFrontIsRecordedAsDesktop) {
  probes->state().front.reset();
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  const auto hits =
      inside().library()->search(SearchQuery{}, std::nullopt, std::nullopt, std::nullopt, 10);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].meta.appName, "Desktop");
  EXPECT_EQ(hits[0].meta.bundleID, std::nullopt);
  EXPECT_EQ(hits[0].meta.title, std::nullopt);
  EXPECT_EQ(probes->captures().at(0).center, std::nullopt);
}

struct IntervalCase {
  double interval;
  double wait;
  const char* status;
};

class AppModelIntervalTest : public AppModelTest,
                             public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(AppModelIntervalTest, IsClampedAndShownWhole) {
  const IntervalCase& c = GetParam();
  VistrelConfig saved;
  saved.captureEnabled = true;
  saved.interval = c.interval;
  writeConfig(saved);
  model().start();
  // The first tick waits for its screenshot: nothing is published yet.
  EXPECT_EQ(model().statusLine(), c.status);
  settle();
  ASSERT_EQ(ticks.size(), 1u);
  advance(c.wait - 0.01);
  EXPECT_EQ(ticks.size(), 1u);
  advance(0.02);
  EXPECT_EQ(ticks.size(), 2u);
  advance(c.wait);
  EXPECT_EQ(ticks.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, AppModelIntervalTest,
    ::testing::Values(IntervalCase{1, 2, "Recording · every 2 s when the screen changes"},
                      IntervalCase{7.9, 7.9, "Recording · every 7 s when the screen changes"},
                      IntervalCase{600, 60, "Recording · every 60 s when the screen changes"}));

TEST_F(AppModelTest, FifteenMinutePauseEndsByItself) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_EQ(storedFrames(), 1);
  model().pause(15);
  settle();
  const Date until = startMoment() + Seconds(15 * 60);
  EXPECT_EQ(model().config().pausedUntil, until);
  EXPECT_EQ(inside().skip(), SkipReason::paused(until));
  EXPECT_EQ(model().lastNotice(), "Paused until 10:15");
  EXPECT_EQ(model().menuBarSymbol(), "pause.circle.fill");
  EXPECT_FALSE(model().isRecording());
  EXPECT_EQ(inside().recorder()->last(), std::nullopt) << "the pause resets the change test";

  ticks.clear();
  advance(15 * 60 - 1);
  ASSERT_FALSE(ticks.empty());
  for (const TickReport& report : ticks)
    ASSERT_TRUE(isSkip(report, SkipReason::Kind::paused)) << report.describe();
  EXPECT_EQ(storedFrames(), 1);

  advance(5);
  EXPECT_EQ(model().config().pausedUntil, std::nullopt);
  EXPECT_EQ(inside().skip(), std::nullopt);
  EXPECT_EQ(storedFrames(), 2) << "the same screen is kept again after the pause";
  EXPECT_GE(*inside().lastFrameAt(), until);
  advance(0.5);
  EXPECT_EQ(ConfigFile::load(inside().configFile()).pausedUntil, std::nullopt);
}

TEST_F(AppModelTest, QuittingTheApplicationSavesAndReleasesTheHotKey) {
  model().start();
  ASSERT_TRUE(grabber().grabbed.has_value());
  change([](VistrelConfig& c) { c.retentionDays = 3; });
  ASSERT_TRUE(inside().isSavePending());
  ASSERT_FALSE(std::filesystem::exists(inside().configFile()));
  QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
  QCoreApplication::exec();
  EXPECT_EQ(ConfigFile::load(inside().configFile()).retentionDays, 3);
  EXPECT_FALSE(grabber().grabbed.has_value());
}

TEST_F(AppModelTest, APauseRunningOutChangesTheDerivedValuesAtThatMoment) {
  change([](VistrelConfig& c) {
    c.captureEnabled = true;
    c.interval = 60;
  });
  settle();
  model().pause(1.5);
  const Date until = startMoment() + Seconds(90);
  std::vector<std::pair<Date, std::string>> symbols;
  QObject::connect(&model(), &AppModel::menuBarSymbolChanged, &model(),
                   [&] { symbols.emplace_back(clock->now(), model().menuBarSymbol()); });
  int recordingChanges = 0;
  QObject::connect(&model(), &AppModel::isRecordingChanged, &model(), [&] { ++recordingChanges; });
  // The loop's next tick comes at 10:01:00 and then at 10:02:00, so only the pause's own end can
  // change the values at 10:01:30.
  advance(89);
  EXPECT_TRUE(symbols.empty());
  EXPECT_FALSE(model().isRecording());
  advance(2);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0].first, until);
  EXPECT_EQ(symbols[0].second, "record.circle.fill");
  EXPECT_EQ(recordingChanges, 1);
  EXPECT_TRUE(model().isRecording());
  EXPECT_EQ(model().config().pausedUntil, std::nullopt);
  EXPECT_EQ(model().statusLine(), "Recording · last change saved 10:00:00");
}

TEST_F(AppModelTest, APauseEndTimerHonoursALaterPause) {
  change([](VistrelConfig& c) {
    c.captureEnabled = true;
    c.interval = 60;
  });
  settle();
  model().pause(1);
  model().pause(5);
  advance(4 * 60);
  EXPECT_TRUE(model().isPaused());
  EXPECT_EQ(model().menuBarSymbol(), "pause.circle.fill");
  advance(61);
  EXPECT_FALSE(model().isPaused());
  EXPECT_EQ(model().menuBarSymbol(), "record.circle.fill");
}

TEST_F(AppModelTest, ShowMainWindowOpensTheWindowOnceTheWindowLayerInstalledItsOpener) {
  // The pane each opening found already set, so the window opens on the right pane.
  std::vector<Pane> opened;
  AppModel::installOpenMainWindow({});
  model().showMainWindow(Pane::storage);
  EXPECT_EQ(model().pane(), Pane::storage);
  AppModel::installOpenMainWindow([&] { opened.push_back(model().pane()); });
  model().showMainWindow(Pane::privacy);
  probes->state().permission = false;
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  AppModel::installOpenMainWindow({});
  model().showMainWindow(Pane::help);
  EXPECT_EQ(opened, (std::vector<Pane>{Pane::privacy, Pane::capture}));
  EXPECT_EQ(model().pane(), Pane::help);
}

TEST_F(AppModelTest, PauseUntilTomorrowEndsAtMidnight) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  model().pauseUntilTomorrow();
  const Date midnight = dateFromSeconds1970(1741514400.0 + 14 * 3600);
  EXPECT_EQ(model().config().pausedUntil, midnight);
  EXPECT_EQ(model().lastNotice(), "Paused until 00:00");
  EXPECT_NE(inside().recorder()->last(), std::nullopt) << "no reset until tomorrow";
}

TEST_F(AppModelTest, ResumeRunsATickAtOnce) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  model().pause(std::nullopt);
  settle();
  ticks.clear();
  model().resume();
  EXPECT_EQ(inside().skip(), std::nullopt);
  EXPECT_EQ(model().lastNotice(), "Capture resumed.");
  settle();
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0].describe(), "Stored frame 2 (1 line)");
}

TEST_F(AppModelTest, TogglePauseWithCaptureOffOnlyShowsANotice) {
  model().start();
  const VistrelConfig before = model().config();
  inside().togglePause();
  EXPECT_EQ(model().config(), before);
  EXPECT_EQ(model().lastNotice(), "Capture is off: turn it on from the tray first.");
}

TEST_F(AppModelTest, SwitchToExcludedAppDuringScreenshotStoresNothing) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_EQ(storedFrames(), 1);
  // Without the switch, this tick would keep its frame.
  inside().recorder()->reset();
  const std::size_t before = probes->captures().size();
  inside().tick();
  // The tick now waits for its screenshot; meanwhile the user switches.
  {
    auto lock = probes->lock();
    probes->state().front =
        FrontWindow{WindowInfo{"org.keepassxc.KeePassXC", "KeePassXC", std::nullopt}, Point{1, 1}};
  }
  settle();
  EXPECT_EQ(probes->captures().size(), before + 1) << "the screenshot was taken";
  EXPECT_EQ(inside().skip(), SkipReason::excludedApp("KeePassXC"));
  EXPECT_EQ(ticks.back().screenshotTaken, true);
  EXPECT_EQ(storedFrames(), 1);
}

TEST_F(AppModelTest, FailureThenUnchangedTickClearsTheError) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_EQ(storedFrames(), 1);
  probes->state().captureFailure =
      std::make_exception_ptr(CaptureError(CaptureError::Code::noDisplay));
  advance(5);
  ASSERT_EQ(ticks.back().kind, TickReport::Kind::captureFailed);
  ASSERT_TRUE(inside().captureError().has_value());
  EXPECT_EQ(model().statusLine(), "Couldn't capture: " + *inside().captureError());
  EXPECT_EQ(inside().skip(), std::nullopt);

  probes->state().captureFailure = nullptr;
  advance(5);
  EXPECT_EQ(ticks.back().describe(), "Unchanged");
  EXPECT_EQ(inside().captureError(), std::nullopt);
  EXPECT_EQ(model().statusLine(), "Recording · last change saved 10:00:00");
}

TEST_F(AppModelTest, AOneColourScreenIsNotStored) {
  probes->state().blank = true;
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0].kind, TickReport::Kind::captureFailed);
  EXPECT_EQ(model().statusLine(),
            "Couldn't capture: the screen showed one colour only (blank or unreadable), so "
            "nothing was saved");
  probes->state().blank = false;
  advance(5);
  EXPECT_EQ(storedFrames(), 1);
  EXPECT_EQ(inside().captureError(), std::nullopt);
}

// The real probes on a real X server, in a session that says it is Wayland: the X display is
// then XWayland, whose pictures must not be stored.
TEST_F(AppModelTest, UnderWaylandNothingIsStoredAndTheStatusSaysWhy) {
  testing::XvfbSession xvfb;
  ScopedEnvironment session("XDG_SESSION_TYPE", "wayland");
  ScopedEnvironment noWaylandDisplay("WAYLAND_DISPLAY", nullptr);
  X11Probes::Options options;
  options.display = xvfb.display();
  options.sessionBusAddress = QStringLiteral("unix:path=/nonexistent/vistrel-test-bus");
  options.systemBusAddress = options.sessionBusAddress;
  auto x11 = std::make_shared<X11Probes>(options);
  realProbes = x11;
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  advance(5);
  ASSERT_GE(ticks.size(), 2u);
  for (const TickReport& report : ticks)
    EXPECT_FALSE(report.screenshotTaken);
  EXPECT_FALSE(model().screenRecording());
  EXPECT_EQ(model().screenAccessProblem(), std::string(texts::waylandUnsupported));
  EXPECT_EQ(inside().skip(), SkipReason::noPermission());
  EXPECT_EQ(model().statusLine(), texts::waylandUnsupported);
  EXPECT_EQ(model().menuBarSymbol(), "exclamationmark.triangle");
  // Asked directly, the probes refuse too.
  EXPECT_THROW(
      x11->captureScreen(ExclusionRules({}, {}, false, false, std::nullopt), {}, 640).image,
      std::runtime_error);
}

TEST(WaylandSession, IsToldBySessionTypeOrWaylandDisplay) {
  const struct {
    const char* type;
    const char* display;
    bool wayland;
  } cases[] = {
      {"wayland", nullptr, true}, {"x11", "wayland-0", true}, {nullptr, "wayland-0", true},
      {"x11", nullptr, false},    {"x11", "", false},         {nullptr, nullptr, false},
      {"tty", nullptr, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(isWaylandSession(c.type, c.display), c.wayland)
        << (c.type ? c.type : "null") << " / " << (c.display ? c.display : "null");
}

TEST_F(AppModelTest, TurningCaptureOffDuringATickLetsItFinishAndRunsNoMore) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  // The first tick is waiting for its screenshot.
  ASSERT_EQ(ticks.size(), 0u);
  change([](VistrelConfig& c) { c.captureEnabled = false; });
  EXPECT_FALSE(inside().isLoopRunning());
  settle();
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0].describe(), "Stored frame 1 (1 line)");
  EXPECT_EQ(inside().skip(), SkipReason::off());
  EXPECT_EQ(model().statusLine(), "Capture is off");
  EXPECT_EQ(model().lastNotice(), "Capture is off. Nothing new is saved.");
  advance(120);
  EXPECT_EQ(ticks.size(), 1u);
}

TEST_F(AppModelTest, LoopSchedulesTheCleanupEveryTenMinutes) {
  change([](VistrelConfig& c) { c.captureEnabled = true; });
  settle();
  const Date first = inside().lastCleanup();
  EXPECT_EQ(first, startMoment()) << "capture on opened the library and scheduled a cleanup";
  advance(600);
  EXPECT_EQ(inside().lastCleanup(), first);
  advance(5);
  EXPECT_GT(inside().lastCleanup(), first + Seconds(600));
}

// MARK: - Debounces and jobs

class AppModelLibraryTest : public AppModelTest {
 protected:
  void SetUp() override {
    auto library = makeLibrary();
    library->store(frame(startMoment() - Seconds(3600), "Invoice 4471 from Tevrin"));
    library->store(frame(startMoment() - Seconds(1800), "Quarterly report draft"));
    library->store(frame(startMoment() - Seconds(600), "Invoice 5512 overdue"));
    library.reset();
    model().start();
    settle();
    ASSERT_NE(inside().library(), nullptr);
    searches = 0;
    cleanups.clear();
  }
};

TEST_F(AppModelLibraryTest, StartShowsStatsAndNewestFrames) {
  EXPECT_EQ(model().stats().frames, 3);
  EXPECT_EQ(model().hits().size(), 3u);
  EXPECT_EQ(model().apps().size(), 1u);
  advance(1);
  ASSERT_EQ(cleanups.size(), 1u) << "start-up schedules one cleanup";
  EXPECT_EQ(cleanups[0], 0);
  EXPECT_EQ(model().lastNotice(), std::nullopt);
}

TEST_F(AppModelLibraryTest, TypingRunsOneSearchForTheWholeText) {
  for (const char* text : {"i", "in", "inv"}) {
    model().setSearchText(text);
    model().runSearch(false);
    advance(0.1);
  }
  EXPECT_EQ(searches, 0);
  advance(0.11);
  EXPECT_EQ(searches, 0) << "0.22 s after the last keystroke, not the first";
  advance(0.02);
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(model().searchedQuery(), SearchQuery::parse("inv"));
  ASSERT_EQ(model().hits().size(), 2u);
  EXPECT_EQ(model().hits()[0].meta.lines[0].text, "Invoice 5512 overdue");
  advance(1);
  EXPECT_EQ(searches, 1);
}

TEST_F(AppModelLibraryTest, AnOlderSearchNeverOverwritesANewerOne) {
  model().setSearchText("quarterly");
  model().runSearch(true);
  model().setSearchText("4471");
  model().runSearch(true);
  settle();
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(model().searchedQuery(), SearchQuery::parse("4471"));
  ASSERT_EQ(model().hits().size(), 1u);
  EXPECT_EQ(model().hits()[0].meta.lines[0].text, "Invoice 4471 from Tevrin");
}

TEST_F(AppModelLibraryTest, FiltersLimitTheSearch) {
  model().setRange(DateRange::today);
  model().runSearch(true);
  settle();
  EXPECT_EQ(model().hits().size(), 3u);
  model().setAppFilter(Bytes(16, 0));
  model().runSearch(true);
  settle();
  EXPECT_TRUE(model().hits().empty());
  model().setAppFilter(model().apps().at(0).tag);
  model().runSearch(true);
  settle();
  EXPECT_EQ(model().hits().size(), 3u);
}

TEST_F(AppModelLibraryTest, ALaterNoticeGetsItsFullEightSeconds) {
  inside().showNotice("first");
  advance(3);
  inside().showNotice("second");
  advance(5.5);
  EXPECT_EQ(model().lastNotice(), "second") << "the first notice's expiry must not clear it";
  advance(2.4);
  EXPECT_EQ(model().lastNotice(), "second");
  advance(0.2);
  EXPECT_EQ(model().lastNotice(), std::nullopt);
}

TEST_F(AppModelLibraryTest, QuickRetentionChangesRunOneCleanup) {
  advance(2);  // start-up's own cleanup
  cleanups.clear();
  for (int days : {20, 10, 5, 2, 1}) {
    change([days](VistrelConfig& c) {
      c.retentionDays = days;
      c.capGB = 0.1;
    });
    advance(0.2);
  }
  EXPECT_TRUE(cleanups.empty());
  advance(0.79);
  EXPECT_TRUE(cleanups.empty());
  advance(0.02);
  ASSERT_EQ(cleanups.size(), 1u);
  advance(5);
  EXPECT_EQ(cleanups.size(), 1u);
}

TEST_F(AppModelLibraryTest, AutomaticCleanupReportsOnlyRemovals) {
  advance(2);
  clock->setNow(startMoment() + Seconds(86400.0 * 2));
  change([](VistrelConfig& c) { c.retentionDays = 1; });
  advance(1.01);
  ASSERT_EQ(cleanups.back(), 3);
  EXPECT_EQ(model().lastNotice(), "Cleaned up 3 old frames.");
  settle();
  EXPECT_EQ(model().stats().frames, 0);
  EXPECT_TRUE(model().hits().empty());
}

TEST_F(AppModelLibraryTest, CleanUpNowAlwaysReports) {
  model().cleanUpNow();
  settle();
  EXPECT_EQ(model().lastNotice(), "Nothing to clean up: everything is within the limits.");
  clock->setNow(startMoment() + Seconds(86400.0 * 40));
  model().cleanUpNow();
  settle();
  EXPECT_EQ(model().lastNotice(), "Cleaned up 3 frames.");
}

TEST_F(AppModelLibraryTest, TimelineKeepsItsFrameOrMovesToTheNewest) {
  model().loadTimeline(false);
  settle();
  ASSERT_EQ(model().timelineStamps().size(), 3u);
  EXPECT_EQ(model().timelineIndex(), 2);
  model().setTimelineIndex(1);
  const std::int64_t current = model().timelineStamps()[1].id;

  inside().library()->store(frame(startMoment() - Seconds(7200), "An earlier frame"));
  model().loadTimeline(true);
  settle();
  ASSERT_EQ(model().timelineStamps().size(), 4u);
  EXPECT_EQ(model().timelineIndex(), 2);
  EXPECT_EQ(model().timelineStamps()[2].id, current);

  inside().library()->remove({current});
  model().loadTimeline(true);
  settle();
  ASSERT_EQ(model().timelineStamps().size(), 3u);
  EXPECT_EQ(model().timelineIndex(), 2);
}

TEST_F(AppModelLibraryTest, ASearchOrTimelineThatFailsSaysSoRatherThanShowingNothing) {
  model().loadTimeline(false);
  inside().refreshStats();
  settle();
  ASSERT_EQ(model().timelineStamps().size(), 3u);
  const LibraryStats counted = model().stats();
  const std::vector<AppEntry> apps = model().apps();
  ASSERT_EQ(counted.frames, 3);
  ASSERT_FALSE(apps.empty());
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder.path() / "history.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE frames", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  model().setSearchText("invoice");
  model().runSearch(true);
  settle();
  EXPECT_TRUE(model().hits().empty());
  ASSERT_TRUE(model().lastNotice().has_value());
  EXPECT_TRUE(model().lastNotice()->starts_with("Couldn't search the history: "))
      << *model().lastNotice();

  model().loadTimeline(true);
  settle();
  EXPECT_TRUE(model().timelineStamps().empty());
  EXPECT_EQ(model().timelineIndex(), 0);
  ASSERT_TRUE(model().lastNotice().has_value());
  EXPECT_TRUE(model().lastNotice()->starts_with("Couldn't read the timeline: "))
      << *model().lastNotice();

  // Counts that cannot be read keep their last values rather than read as an empty history.
  inside().refreshStats();
  settle();
  EXPECT_EQ(model().stats().frames, counted.frames);
  EXPECT_EQ(model().apps().size(), apps.size());
}

TEST_F(AppModelLibraryTest, AChangeOfTimeZoneWhileRunningMovesTodayForTheSearchTimelineAndCounts) {
  // 23:00 UTC the evening before: yesterday in UTC, but already today in Tokyo (UTC+9).
  inside().library()->store(frame(startMoment() - Seconds(11 * 3600), "Late invoice"));
  model().setRange(DateRange::today);
  model().runSearch(true);
  model().loadTimeline(false);
  inside().refreshStats();
  settle();
  ASSERT_EQ(model().hits().size(), 3u);
  ASSERT_EQ(model().timelineStamps().size(), 3u);
  ASSERT_EQ(model().stats().today, 3);

  int announced = 0;
  QObject::connect(&model(), &AppModel::calendarChanged, &model(), [&] { ++announced; });
  clock->setCalendar(*Calendar::named("Asia/Tokyo"));
  EXPECT_EQ(model().calendar().zoneID(), "Asia/Tokyo");
  settle();
  EXPECT_EQ(announced, 1);
  EXPECT_EQ(model().hits().size(), 4u);
  EXPECT_EQ(model().timelineStamps().size(), 4u);
  EXPECT_EQ(model().stats().today, 4);
}

TEST_F(AppModelTest, ACaptureTickNoticesAChangedTimeZone) {
  model().start();
  settle();
  int announced = 0;
  QObject::connect(&model(), &AppModel::calendarChanged, &model(), [&] { ++announced; });
  clock->setCalendar(*Calendar::named("Europe/Berlin"));
  inside().tick();
  settle();
  EXPECT_EQ(announced, 1);
  inside().tick();
  settle();
  EXPECT_EQ(announced, 1) << "the same zone is no change";
}

TEST(SystemClock, FollowsTheZoneTheSystemIsSetTo) {
  SystemClock clock;
  {
    ScopedEnvironment zone("TZ", "Asia/Tokyo");
    EXPECT_EQ(clock.calendar().zoneID(), "Asia/Tokyo");
  }
  ScopedEnvironment zone("TZ", "America/New_York");
  EXPECT_EQ(clock.calendar().zoneID(), "America/New_York");
}

TEST_F(AppModelLibraryTest, SummaryAndImageLoadOffTheMainThreadAndNeverInsideTheCall) {
  const std::int64_t id = model().hits().at(0).id;
  QObject screen;
  std::optional<std::optional<FrameSummary>> summary;
  model().loadSummary(id, SearchQuery::parse("overdue"), &screen,
                      [&](std::optional<FrameSummary> s) { summary = std::move(s); });
  std::optional<std::optional<Image>> image;
  // The fixture's bytes are not a real JPEG, so the image does not decode.
  model().loadImage(id, &screen, [&](std::optional<Image> i) { image = std::move(i); });
  EXPECT_FALSE(summary.has_value());
  EXPECT_FALSE(image.has_value());
  settle();
  ASSERT_TRUE(summary.has_value()) << "a summary and an image of one screen run side by side";
  ASSERT_TRUE(summary->has_value());
  EXPECT_EQ((*summary)->matchingLines, std::vector<int>{0});
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(*image, std::nullopt);
}

TEST_F(AppModelTest, WithoutALibraryALoadAnswersNoneButStillLater) {
  model().start();
  settle();
  ASSERT_FALSE(model().isLibraryOpen());
  QObject screen;
  std::optional<std::optional<FrameSummary>> summary;
  model().loadSummary(1, SearchQuery{}, &screen,
                      [&](std::optional<FrameSummary> s) { summary = std::move(s); });
  EXPECT_FALSE(summary.has_value());
  settle();
  ASSERT_TRUE(summary.has_value());
  EXPECT_EQ(*summary, std::nullopt);
}

TEST_F(AppModelLibraryTest, AskingAgainCancelsTheScreensOlderRequest) {
  const std::vector<FrameSummary> hits = model().hits();
  QObject screen;
  QObject otherScreen;
  std::vector<std::int64_t> answered;
  const auto load = [&](QObject& context, std::int64_t id) {
    model().loadSummary(id, SearchQuery{}, &context,
                        [&answered, id](std::optional<FrameSummary> s) {
                          EXPECT_TRUE(s.has_value());
                          answered.push_back(id);
                        });
  };
  load(screen, hits[0].id);
  load(screen, hits[1].id);
  load(otherScreen, hits[2].id);
  settle();
  std::sort(answered.begin(), answered.end());
  std::vector<std::int64_t> expected{hits[1].id, hits[2].id};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(answered, expected) << "only the first screen's older request is dropped";
}

TEST_F(AppModelLibraryTest, AScreenThatGoesAwayGetsNoAnswer) {
  const std::int64_t id = model().hits().at(0).id;
  int answers = 0;
  {
    QObject screen;
    model().loadSummary(id, SearchQuery{}, &screen,
                        [&](std::optional<FrameSummary>) { ++answers; });
    model().loadImage(id, &screen, [&](std::optional<Image>) { ++answers; });
  }
  auto kept = std::make_unique<QObject>();
  model().loadImage(id, kept.get(), [&](std::optional<Image>) { ++answers; });
  settle();
  EXPECT_EQ(answers, 1);
}

TEST_F(AppModelLibraryTest, ALoadFromALibraryDeletedMeanwhileAnswersNone) {
  change([](VistrelConfig& config) { config.captureEnabled = true; });
  settle();
  const std::int64_t id = model().hits().at(0).id;
  QObject screen;
  std::optional<std::optional<FrameSummary>> summary;
  model().loadSummary(id, SearchQuery{}, &screen,
                      [&](std::optional<FrameSummary> s) { summary = std::move(s); });
  // Capture is on, so a new, empty library is open again by the time the answer arrives.
  model().deleteEverything();
  settle();
  ASSERT_TRUE(model().isLibraryOpen());
  ASSERT_TRUE(summary.has_value());
  EXPECT_EQ(*summary, std::nullopt) << "the old library's frame must not show";
}

}  // namespace
}  // namespace vistrel
