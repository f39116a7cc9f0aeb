// The Capture and Privacy screens' widget logic offscreen, on a real model with fake probes and
// hot keys: the shortcut recorder's key handling, the interval label and the title-word rules.

#include <gtest/gtest.h>
#include <xcb/xproto.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <cmath>

#include "Vistrel/gui/capture/CapturePane.h"
#include "Vistrel/gui/capture/ShortcutRecorder.h"
#include "Vistrel/gui/common/PaneHeader.h"
#include "Vistrel/gui/privacy/FlowLayout.h"
#include "Vistrel/gui/privacy/PrivacyPane.h"
#include "Vistrel/model/AppModel.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "tests/Vistrel/model/AppModelTestAccess.h"
#include "tests/Vistrel/model/FakeClock.h"
#include "tests/Vistrel/platform/FakeProbes.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

class RecordingGrabber final : public HotkeyGrabber {
 public:
  Result grab(Shortcut shortcut, std::function<void()>) override {
    if (answer != Result::grabbed)
      return answer;
    grabbed = shortcut;
    return Result::grabbed;
  }
  void release() override { grabbed.reset(); }

  std::optional<Shortcut> grabbed;
  Result answer = Result::grabbed;
};

// A Wayland session: the screen cannot be read, and the probes say why.
class WaylandProbes final : public Probes {
 public:
  std::optional<FrontWindow> frontWindow() override { return std::nullopt; }
  bool isScreenLockedOrAsleep() override { return false; }
  double idleSeconds() override { return 0; }
  bool isSecureInputOn() override { return false; }
  bool hasScreenRecordingPermission() override { return false; }
  bool requestScreenRecordingPermission() override { return false; }
  Screenshot captureScreen(const ExclusionRules&, std::optional<Point>, int) override {
    throw std::runtime_error(std::string(texts::waylandUnsupported));
  }
  std::optional<std::string> screenAccessProblem() override {
    return std::string(texts::waylandUnsupported);
  }
};

class CaptureWidgets : public ::testing::Test {
 protected:
  explicit CaptureWidgets(
      std::shared_ptr<Probes> probes = std::make_shared<testing::FakeProbes>()) {
    AppEnvironment env;
    env.dataFolder = folder.path();
    env.keyStore = std::make_shared<MemoryKeyStore>();
    env.probes = std::move(probes);
    auto grabber = std::make_unique<RecordingGrabber>();
    grabber_ = grabber.get();
    env.hotkeys = std::move(grabber);
    env.clock = std::make_shared<testing::FakeClock>(dateFromSeconds1970(1741514400.0));
    env.saveSettings = false;
    model = std::make_unique<AppModel>(std::move(env));
    AppModelTestAccess{*model}.applyShortcut();
  }

  testing::TemporaryFolder folder;
  std::unique_ptr<AppModel> model;
  RecordingGrabber* grabber_ = nullptr;
};

constexpr quint32 keysymK = 0x6b;
constexpr Modifiers ctrlAltSuper = Modifiers::control | Modifiers::option | Modifiers::command;

struct KeyCase {
  const char* what;
  int key;
  Qt::KeyboardModifiers modifiers;
  // What the event says on X11: keysym and key state; zero for a synthetic event.
  quint32 keysym = 0;
  quint32 state = 0;
  // Expected: the stored shortcut (none: unchanged), still recording, the hint.
  std::optional<Shortcut> stored;
  bool keepsRecording = false;
  QString hint;
};

TEST_F(CaptureWidgets, RecorderTakesAcceptableCombinationsAndExplainsTheOthers) {
  const QString addModifier = QString::fromLatin1(ShortcutRecorder::acceptableHint);
  const KeyCase cases[] = {
      {"Ctrl+Alt+Super+K", Qt::Key_K, Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier, 0,
       0, Shortcut{40, ctrlAltSuper}},
      {"Ctrl+Super+K from X11", Qt::Key_K, Qt::ControlModifier | Qt::MetaModifier, keysymK,
       XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4,
       Shortcut{40, Modifiers::control | Modifiers::command}},
      {"Alt+F5", Qt::Key_F5, Qt::AltModifier, 0, 0, Shortcut{96, Modifiers::option}},
      {"Super+Escape", Qt::Key_Escape, Qt::MetaModifier, 0, 0, Shortcut{53, Modifiers::command}},
      {"Escape alone cancels", Qt::Key_Escape, Qt::NoModifier},
      {"Shift+K", Qt::Key_K, Qt::ShiftModifier, 0, 0, std::nullopt, true, addModifier},
      {"K", Qt::Key_K, Qt::NoModifier, 0, 0, std::nullopt, true, addModifier},
      {"Ctrl on its own", Qt::Key_Control, Qt::ControlModifier, 0, 0, std::nullopt, true, {}},
      {"Ctrl+Alt+a key without a code", Qt::Key_Print, Qt::ControlModifier | Qt::AltModifier, 0, 0,
       std::nullopt, true, QString::fromLatin1(ShortcutRecorder::unknownKeyHint)},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.what);
    VistrelConfig config = model->config();
    config.pauseShortcut = Shortcut::defaultPause;
    model->setConfig(config);
    ShortcutRecorder recorder(*model);
    recorder.button()->click();
    ASSERT_TRUE(recorder.isRecording());
    EXPECT_EQ(grabber_->grabbed, std::nullopt) << "the hot key is let go while recording";
    EXPECT_EQ(recorder.button()->accessibleName().toStdString(),
              "Recording a shortcut. Press keys now, Escape to cancel.");

    QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, 0, c.keysym, c.state);
    QApplication::sendEvent(recorder.button(), &press);

    EXPECT_EQ(recorder.isRecording(), c.keepsRecording);
    EXPECT_EQ(recorder.hint(), c.hint);
    const Shortcut expected = c.stored.value_or(Shortcut::defaultPause);
    EXPECT_EQ(model->config().pauseShortcut, expected);
    if (!c.keepsRecording)
      EXPECT_EQ(grabber_->grabbed, expected) << "grabbed again when recording stops";
  }
}

TEST_F(CaptureWidgets, RecorderOffersTheDefaultOnlyWhenAnotherShortcutIsSet) {
  ShortcutRecorder recorder(*model);
  EXPECT_EQ(recorder.button()->text().toStdString(), "Ctrl+Alt+Super+P");
  EXPECT_EQ(recorder.button()->accessibleName().toStdString(), "Shortcut: Control Alt Super P");
  EXPECT_TRUE(recorder.useDefaultButton()->isHidden());

  VistrelConfig config = model->config();
  config.pauseShortcut = Shortcut{36, Modifiers::option};
  model->setConfig(config);
  EXPECT_EQ(recorder.button()->accessibleName().toStdString(), "Shortcut: Alt Return");
  EXPECT_FALSE(recorder.useDefaultButton()->isHidden());
  EXPECT_EQ(recorder.useDefaultButton()->text().toStdString(), "Use Ctrl+Alt+Super+P");

  recorder.button()->click();
  EXPECT_TRUE(recorder.useDefaultButton()->isHidden()) << "not while recording";
  recorder.button()->click();
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(model->config().pauseShortcut, (Shortcut{36, Modifiers::option}));

  recorder.useDefaultButton()->click();
  EXPECT_EQ(model->config().pauseShortcut, Shortcut::defaultPause);
  EXPECT_EQ(grabber_->grabbed, Shortcut::defaultPause);
}

TEST_F(CaptureWidgets, IntervalLabelShowsTheWholeClampedValueAndTheSliderWritesNothingBack) {
  const std::pair<double, const char*> cases[] = {{1.5, "2 seconds"},
                                                  {45, "45 seconds"},
                                                  {7.9, "7 seconds"},
                                                  {600, "60 seconds"},
                                                  {NAN, "2 seconds"}};
  for (const auto& [interval, label] : cases)
    EXPECT_EQ(CapturePane::intervalText(interval).toStdString(), label) << interval;

  VistrelConfig config = model->config();
  config.interval = 45;
  model->setConfig(config);
  CapturePane pane(*model);
  EXPECT_EQ(pane.intervalLabel()->text().toStdString(), "45 seconds");
  EXPECT_EQ(pane.intervalSlider()->value(), 30);
  EXPECT_EQ(model->config().interval, 45) << "showing the value does not change it";

  pane.intervalSlider()->setValue(12);
  EXPECT_EQ(model->config().interval, 12);
  EXPECT_EQ(pane.intervalLabel()->text().toStdString(), "12 seconds");
}

TEST_F(CaptureWidgets, TitleFollowsTheCaptureState) {
  model->start();
  CapturePane pane(*model);
  const auto title = [&] { return pane.header()->titleLabel()->text().toStdString(); };
  EXPECT_EQ(title(), "Vistrel is off");
  EXPECT_EQ(pane.screenAccessState()->accessibleName().toStdString(), "Allowed");
  pane.captureSwitch()->click();
  EXPECT_TRUE(model->config().captureEnabled);
  EXPECT_EQ(title(), "Vistrel is recording");
  model->pause(15);
  EXPECT_EQ(title(), "Vistrel is paused");
  model->resume();
  EXPECT_EQ(title(), "Vistrel is recording");
  pane.captureSwitch()->click();
  EXPECT_EQ(title(), "Vistrel is off");
}

TEST_F(CaptureWidgets, TheShortcutWarningSaysWhetherItIsTakenOrImpossibleHere) {
  model->start();
  CapturePane pane(*model);
  EXPECT_TRUE(pane.shortcutWarning()->isHidden());
  grabber_->answer = HotkeyGrabber::Result::taken;
  AppModelTestAccess{*model}.applyShortcut();
  EXPECT_FALSE(pane.shortcutWarning()->isHidden());
  EXPECT_EQ(pane.shortcutWarning()->accessibleName().toStdString(),
            "Another app already uses Ctrl+Alt+Super+P. Pick a different shortcut.");
  grabber_->answer = HotkeyGrabber::Result::unavailable;
  AppModelTestAccess{*model}.applyShortcut();
  EXPECT_FALSE(pane.shortcutWarning()->isHidden());
  EXPECT_EQ(pane.shortcutWarning()->accessibleName().toStdString(),
            "This desktop gives apps no global shortcuts, so the shortcut does nothing here. "
            "Pause from the tray menu instead.");
  grabber_->answer = HotkeyGrabber::Result::grabbed;
  AppModelTestAccess{*model}.applyShortcut();
  EXPECT_TRUE(pane.shortcutWarning()->isHidden());
}

class CaptureWidgetsOnWayland : public CaptureWidgets {
 protected:
  CaptureWidgetsOnWayland() : CaptureWidgets(std::make_shared<WaylandProbes>()) {}
};

TEST_F(CaptureWidgetsOnWayland, ScreenAccessSaysTheDesktopIsNotSupportedYet) {
  model->start();
  CapturePane pane(*model);
  EXPECT_EQ(pane.screenAccessState()->text().toStdString(), "Not supported yet");
  EXPECT_EQ(pane.screenAccessText()->text().toStdString(), texts::waylandUnsupported);
  pane.captureSwitch()->click();
  EXPECT_EQ(pane.header()->titleLabel()->text().toStdString(), "One step left");
}

TEST_F(CaptureWidgets, NotNowEndsTheFirstRunForGood) {
  CapturePane pane(*model);
  EXPECT_FALSE(pane.notNowButton()->isHidden());
  pane.notNowButton()->click();
  EXPECT_TRUE(model->config().onboardingDone);
  EXPECT_TRUE(pane.notNowButton()->isHidden());
}

TEST(FlowChips, WrapWhenTheNextChipDoesNotFit) {
  QWidget area;
  auto* flow = new FlowLayout(&area, 6);
  std::vector<QWidget*> chips;
  for (int width : {100, 100, 100, 240, 30}) {
    auto* chip = new QWidget(&area);
    chip->setFixedSize(width, 20);
    flow->addWidget(chip);
    chips.push_back(chip);
  }
  area.resize(250, flow->heightForWidth(250));
  area.show();
  flow->activate();
  const std::vector<QPoint> expected = {{0, 0}, {106, 0}, {0, 26}, {0, 52}, {0, 78}};
  for (std::size_t i = 0; i < chips.size(); ++i)
    EXPECT_EQ(chips[i]->pos(), expected[i]) << i;
  EXPECT_EQ(flow->heightForWidth(250), 98);
  EXPECT_EQ(flow->heightForWidth(1000), 20) << "all on one line";
}

TEST(TitleWords, AddRules) {
  const std::vector<std::string> words = {"banking", "bank account"};
  struct Case {
    const char* typed;
    std::optional<std::vector<std::string>> result;
  };
  const Case cases[] = {
      {"  Banking ", std::nullopt},
      {"BANK ACCOUNT", std::nullopt},
      {"   ", std::nullopt},
      {"", std::nullopt},
      {"Medical Records", std::vector<std::string>{"banking", "bank account", "Medical Records"}},
      {"\tpayroll  ", std::vector<std::string>{"banking", "bank account", "payroll"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(withTitleWord(words, QString::fromUtf8(c.typed)), c.result) << c.typed;
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
