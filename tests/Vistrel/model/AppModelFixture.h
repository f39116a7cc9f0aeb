#pragma once

// Test support: an application model on a real library in a temporary folder, with fake probes,
// a memory key store, a fake hot-key grabber, clipboard and login item, a movable clock, and a
// recorder that "reads" fixed text instead of running Tesseract.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Vistrel/model/AppModel.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "VistrelKit/settings/ConfigFile.h"
#include "tests/Vistrel/model/AppModelTestAccess.h"
#include "tests/Vistrel/model/FakeClock.h"
#include "tests/Vistrel/platform/FakeProbes.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/XvfbSession.h"

namespace vistrel::testing {

class FakeGrabber final : public HotkeyGrabber {
 public:
  Result grab(Shortcut shortcut, std::function<void()> pressed) override {
    grabbed.reset();
    this->pressed = nullptr;
    if (answer == Result::grabbed) {
      grabbed = shortcut;
      this->pressed = std::move(pressed);
    }
    return answer;
  }
  void release() override {
    grabbed.reset();
    pressed = nullptr;
  }

  Result answer = Result::grabbed;
  std::optional<Shortcut> grabbed;
  std::function<void()> pressed;
};

class FakeClipboard final : public Clipboard {
 public:
  void setText(const std::string& value) override { text = value; }
  void setImage(const Image& value) override { image = value; }

  std::optional<std::string> text;
  std::optional<Image> image;
};

class FakeLoginItem final : public LoginItem {
 public:
  bool isEnabled() override { return enabled; }
  void setEnabled(bool on) override {
    if (failure)
      throw LoginItemError(*failure);
    enabled = on;
  }

  bool enabled = false;
  std::optional<std::string> failure;
};

class FakeRunningApps final : public RunningApps {
 public:
  std::vector<RunningApp> runningApps() override { return apps; }

  std::vector<RunningApp> apps;
};

// 2025-03-09 10:00:00 UTC, a Sunday.
inline Date startMoment() {
  return dateFromSeconds1970(1741514400.0);
}

// "HH:mm" / "HH:mm:ss" in UTC, whatever the machine's zone and locale.
inline std::string utcTime(Date date, bool seconds) {
  const auto total = static_cast<long long>(std::floor(secondsSince1970(date)));
  const long long day = ((total % 86400) + 86400) % 86400;
  char text[16];
  if (seconds)
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", day / 3600, day / 60 % 60, day % 60);
  else
    std::snprintf(text, sizeof text, "%02lld:%02lld", day / 3600, day / 60 % 60);
  return text;
}

class AppModelTest : public ::testing::Test {
 protected:
  static constexpr const char* recognizedText = "Invoice 4471 paid";

  AppModelTest() {
    qtApplication();
    clock->settle = [this] { settle(); };
    auto lock = probes->lock();
    // Small displays keep the encoding quick; the front window's centre picks the colour.
    probes->state().displays = {{0, 0, 320, 200}, {320, 0, 320, 200}};
    probes->state().front = ordinaryWindow();
  }

  ~AppModelTest() override {
    if (model_)
      settle();
    model_.reset();
  }

  static FrontWindow ordinaryWindow(double x = 100) {
    return FrontWindow{WindowInfo{"org.example.Editor", "Editor", "notes.txt"}, Point{x, 100}};
  }

  AppModel& model() {
    if (!model_) {
      AppEnvironment env;
      env.dataFolder = dataFolder.value_or(folder.path());
      env.keyStore = keyStore ? keyStore : keys;
      env.probes = realProbes ? realProbes : std::shared_ptr<Probes>(probes);
      auto grabber = std::make_unique<FakeGrabber>();
      grabber_ = grabber.get();
      env.hotkeys = std::move(grabber);
      env.clipboard = clipboard;
      env.loginItem = loginItem;
      env.runningApps = runningApps;
      env.clock = clock;
      env.makeRecorder = [this](std::shared_ptr<FrameLibrary> library, int maxWidth) {
        ++recordersMade;
        return std::make_shared<Recorder>(
            std::move(library), maxWidth, [this](const Image&, const std::vector<WindowArea>&) {
              std::this_thread::sleep_for(recognitionTime);
              return std::vector<TextLine>{TextLine{recognizedText, 0.1, 0.1, 0.5, 0.05}};
            });
      };
      env.shortTime = [](Date date) { return utcTime(date, false); };
      env.standardTime = [](Date date) { return utcTime(date, true); };
      model_ = std::make_unique<AppModel>(std::move(env));
      QObject::connect(model_.get(), &AppModel::tickFinished, model_.get(),
                       [this](const TickReport& report) { ticks.push_back(report); });
      QObject::connect(model_.get(), &AppModel::searchFinished, model_.get(),
                       [this] { ++searches; });
      QObject::connect(model_.get(), &AppModel::cleanupFinished, model_.get(),
                       [this](qint64 removed) { cleanups.push_back(removed); });
    }
    return *model_;
  }

  // The model's internal steps and state.
  AppModelTestAccess inside() { return {model()}; }

  FakeGrabber& grabber() {
    model();
    return *grabber_;
  }

  // Lets every background job of the model come back to the main thread.
  void settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int quietRounds = 0;
    while (quietRounds < 2) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "background work did not finish";
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if (model_ && AppModelTestAccess{*model_}.pendingBackgroundJobs() > 0) {
        quietRounds = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      } else {
        ++quietRounds;
      }
    }
  }

  void advance(double seconds) { clock->advance(seconds); }

  void writeConfig(const VistrelConfig& config) {
    ConfigFile::save(config, folder.path() / "config.json");
  }

  // Changes the settings as a screen would.
  template <typename Change>
  void change(Change&& change) {
    VistrelConfig config = model().config();
    change(config);
    model().setConfig(std::move(config));
  }

  // A library made before the model starts, with the model's key.
  std::shared_ptr<FrameLibrary> makeLibrary() {
    return FrameLibrary::open(folder.path(), *keys, true, Calendar::utc());
  }

  static NewFrame frame(Date date, std::string text) {
    NewFrame frame;
    frame.date = date;
    frame.meta.appName = "Editor";
    frame.meta.width = 64;
    frame.meta.height = 40;
    frame.meta.lines.push_back(TextLine{std::move(text), 0.1, 0.2, 0.5, 0.05});
    frame.jpeg = Bytes{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 0xff, 0xd9};
    frame.thumbnail = Bytes{0xff, 0xd8, 9, 8, 0xff, 0xd9};
    return frame;
  }

  std::int64_t storedFrames() {
    auto library = inside().library();
    return library ? library->stats(clock->now()).frames : 0;
  }

  TemporaryFolder folder;
  // The model's data folder when set before the model is made; otherwise `folder`.
  std::optional<std::filesystem::path> dataFolder;
  std::shared_ptr<MemoryKeyStore> keys = std::make_shared<MemoryKeyStore>();
  // Replaces keys as the model's key store when set before the model is made.
  std::shared_ptr<KeyStore> keyStore;
  std::shared_ptr<FakeProbes> probes = std::make_shared<FakeProbes>();
  // The desktop's own probes in place of the fake ones, for tests on a real X server.
  std::shared_ptr<Probes> realProbes;
  std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
  std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
  std::shared_ptr<FakeRunningApps> runningApps = std::make_shared<FakeRunningApps>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(startMoment());
  std::vector<TickReport> ticks;
  std::vector<qint64> cleanups;
  int searches = 0;
  int recordersMade = 0;
  // How long the fake text recognition takes: a slow background job when a test needs one.
  std::chrono::milliseconds recognitionTime{0};

 private:
  FakeGrabber* grabber_ = nullptr;
  std::unique_ptr<AppModel> model_;
};

}  // namespace vistrel::testing
