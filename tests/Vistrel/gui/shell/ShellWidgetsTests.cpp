// The shell's widget logic offscreen, on a real model with fake probes and a movable clock: the
// status badge's four states, the Capture row's badge, the tray menu's entries, the update probe's
// reading of HTTP statuses and the Linux form of a shortcut.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QWidget>

#include "Vistrel/gui/shell/FrameSheetHost.h"
#include "Vistrel/gui/shell/PaneCatalog.h"
#include "Vistrel/gui/shell/ShortcutText.h"
#include "Vistrel/gui/shell/Sidebar.h"
#include "Vistrel/gui/shell/StatusBadge.h"
#include "Vistrel/gui/shell/TrayMenu.h"
#include "Vistrel/gui/update/UpdateChecker.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "tests/Vistrel/model/AppModelTestAccess.h"
#include "tests/Vistrel/model/FakeClock.h"
#include "tests/Vistrel/platform/FakeProbes.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

class NoGrab final : public HotkeyGrabber {
 public:
  Result grab(Shortcut, std::function<void()>) override { return Result::grabbed; }
  void release() override {}
};

class ShellWidgets : public ::testing::Test {
 protected:
  ShellWidgets() {
    AppEnvironment env;
    env.dataFolder = folder.path();
    env.keyStore = std::make_shared<MemoryKeyStore>();
    env.probes = probes;
    env.hotkeys = std::make_unique<NoGrab>();
    env.clock = clock;
    env.saveSettings = false;
    model = std::make_unique<AppModel>(std::move(env));
  }

  void setCapture(bool on, std::optional<double> pausedMinutes = std::nullopt) {
    VistrelConfig config = model->config();
    config.captureEnabled = on;
    config.pausedUntil =
        pausedMinutes ? std::optional(clock->now() + Seconds(*pausedMinutes * 60)) : std::nullopt;
    model->setConfig(config);
  }

  testing::TemporaryFolder folder;
  std::shared_ptr<testing::FakeProbes> probes = std::make_shared<testing::FakeProbes>();
  std::shared_ptr<testing::FakeClock> clock =
      std::make_shared<testing::FakeClock>(dateFromSeconds1970(1741514400.0));
  std::unique_ptr<AppModel> model;
};

TEST_F(ShellWidgets, StatusBadgeShowsTheFirstMatchingState) {
  struct Case {
    bool captureOn;
    std::optional<double> pausedMinutes;
    bool permission;
    const char* title;
    QColor dot;
  };
  const Case cases[] = {
      {false, std::nullopt, true, "Capture is off", QColor(Qt::gray)},
      {true, 15.0, false, "Paused", QColor(0xe8, 0x87, 0x0e)},
      {true, std::nullopt, true, "Recording", QColor(0xd9, 0x2d, 0x20)},
      {true, std::nullopt, false, "Needs permission", QColor(0xe6, 0xb8, 0x00)},
  };
  StatusBadge badge(*model);
  for (const Case& c : cases) {
    probes->state().permission = c.permission;
    setCapture(false);
    setCapture(c.captureOn, c.pausedMinutes);
    SCOPED_TRACE(c.title);
    EXPECT_EQ(badge.state().title.toStdString(), c.title);
    EXPECT_EQ(badge.state().dot, c.dot);
    if (c.captureOn)
      EXPECT_FALSE(badge.state().subtitle.contains(QStringLiteral("Recording \u00b7 ")));
    else
      EXPECT_EQ(badge.state().subtitle.toStdString(), "Nothing new is being saved");
  }
}

TEST_F(ShellWidgets, CaptureRowCarriesABadgeOnlyWithoutScreenAccess) {
  Sidebar sidebar(*model);
  const int captureRow = static_cast<int>(Pane::capture);
  EXPECT_EQ(sidebar.badge(captureRow), 0);
  probes->state().permission = false;
  setCapture(true);
  EXPECT_EQ(sidebar.badge(captureRow), 1);
  for (int row = 0; row < sidebar.count(); ++row) {
    if (row != captureRow)
      EXPECT_EQ(sidebar.badge(row), 0) << row;
  }
  sidebar.setCurrentRow(static_cast<int>(Pane::storage));
  EXPECT_EQ(model->pane(), Pane::storage);
}

TEST_F(ShellWidgets, TrayMenuFollowsCaptureAndPause) {
  TrayMenu menu(*model, false);
  const auto titles = [&] {
    QStringList shown;
    for (QAction* action : menu.actions())
      shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return shown;
  };
  EXPECT_EQ(titles().mid(2, 2),
            (QStringList{QStringLiteral("Turn Capture On"), QStringLiteral("-")}));
  EXPECT_FALSE(titles().contains(QStringLiteral("Check for Updates\u2026")));
  setCapture(true, 10);
  menu.rebuild();
  EXPECT_EQ(titles().mid(2, 2), (QStringList{QStringLiteral("Resume Capture  Ctrl+Alt+Super+P"),
                                             QStringLiteral("Turn Capture Off")}));
  clock->advance(11 * 60);
  menu.rebuild();
  EXPECT_EQ(titles().mid(2, 3),
            (QStringList{QStringLiteral("Pause  Ctrl+Alt+Super+P"), QStringLiteral("Pause For"),
                         QStringLiteral("Turn Capture Off")}));
}

TEST_F(ShellWidgets, TrayMenuKeepsItsEntriesWhenOnlyTheStatusChanges) {
  TrayMenu menu(*model, false);
  const auto entry = [&](const QString& title) -> QAction* {
    for (QAction* action : menu.actions())
      if (action->text() == title)
        return action;
    return nullptr;
  };
  setCapture(true);
  probes->state().lockedOrAsleep = true;
  AppModelTestAccess{*model}.tick();
  menu.rebuild();
  QAction* search = entry(QStringLiteral("Search History\u2026"));
  ASSERT_NE(search, nullptr);
  const QString before = menu.actions().first()->text();

  probes->state().lockedOrAsleep = false;
  probes->state().frontUnknown = true;
  AppModelTestAccess{*model}.tick();
  menu.rebuild();
  EXPECT_NE(menu.actions().first()->text(), before);
  EXPECT_EQ(menu.actions().first()->text().toStdString(), model->statusLine());
  EXPECT_EQ(entry(QStringLiteral("Search History\u2026")), search)
      << "a click on the open menu still reaches its entry";

  model->pause(15);
  menu.rebuild();
  EXPECT_NE(entry(QStringLiteral("Resume Capture  Ctrl+Alt+Super+P")), nullptr)
      << "a new set of entries is built";
}

TEST_F(ShellWidgets, FrameSheetFollowsTheOpenFrameBothWays) {
  QWidget window;
  FrameSheetHost host(*model, &window);
  EXPECT_EQ(host.sheet(), nullptr);
  model->setOpenFrame(OpenFrame{7, {}});
  ASSERT_NE(host.sheet(), nullptr);
  EXPECT_TRUE(host.sheet()->isVisible());
  host.sheet()->reject();
  EXPECT_FALSE(model->openFrame().has_value());
  EXPECT_EQ(host.sheet(), nullptr);
}

TEST(UpdateProbe, ReadsStatusesAsSpecified) {
  using Probe = UpdateChecker::Probe;
  const std::pair<int, Probe> cases[] = {
      {200, Probe::reachable}, {204, Probe::reachable}, {299, Probe::reachable},
      {404, Probe::upToDate},  {410, Probe::upToDate},  {405, Probe::reachable},
      {501, Probe::reachable}, {503, Probe::failed},    {500, Probe::failed},
      {301, Probe::failed},    {0, Probe::failed},
  };
  for (const auto& [status, expected] : cases)
    EXPECT_EQ(UpdateChecker::classify(status), expected) << status;
}

TEST(ShortcutText, WritesModifiersInLinuxOrder) {
  EXPECT_EQ(shortcutText(Shortcut::defaultPause).toStdString(), "Ctrl+Alt+Super+P");
  EXPECT_EQ(shortcutText(Shortcut{36, Modifiers::shift | Modifiers::command}).toStdString(),
            "Shift+Super+Return");
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
