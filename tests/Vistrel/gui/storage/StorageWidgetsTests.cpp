// The Storage and How to Use panes' and the other-apps window's widget logic offscreen, on a real
// model with a memory key store: a stored limit that is no choice, the delete-everything
// confirmation, the figures' formats, the folder shown with "~", the pause shortcut shown in How to
// Use, and the rows of the other-apps list.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

#include "Vistrel/gui/help/HelpPane.h"
#include "Vistrel/gui/moreapps/MoreAppsRow.h"
#include "Vistrel/gui/moreapps/MoreAppsWindow.h"
#include "Vistrel/gui/storage/StorageFormat.h"
#include "Vistrel/gui/storage/StoragePane.h"
#include "Vistrel/model/AppModel.h"
#include "VistrelKit/base/DataFolder.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "VistrelKit/keys/PlatformKeyStore.h"
#include "VistrelKit/settings/ConfigFile.h"
#include "tests/Vistrel/model/AppModelTestAccess.h"
#include "tests/Vistrel/model/FakeClock.h"
#include "tests/Vistrel/platform/FakeProbes.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

class NoGrab final : public HotkeyGrabber {
 public:
  Result grab(Shortcut, std::function<void()>) override { return Result::grabbed; }
  void release() override {}
};

class StorageWidgets : public ::testing::Test {
 protected:
  // The settings file is written before the model reads it, as a user's earlier run left it.
  std::unique_ptr<AppModel> makeModel(const VistrelConfig& saved) {
    ConfigFile::save(saved, folder.path() / "config.json");
    AppEnvironment env;
    env.dataFolder = folder.path();
    env.keyStore = keyStore ? keyStore : keys;
    env.probes = std::make_shared<testing::FakeProbes>();
    env.hotkeys = std::make_unique<NoGrab>();
    env.clock = std::make_shared<testing::FakeClock>(dateFromSeconds1970(1741514400.0));
    env.saveSettings = false;
    auto model = std::make_unique<AppModel>(std::move(env));
    model->start();
    return model;
  }

  testing::TemporaryFolder folder;
  std::shared_ptr<MemoryKeyStore> keys = std::make_shared<MemoryKeyStore>();
  std::shared_ptr<KeyStore> keyStore;  // replaces keys when set before the model is made
};

TEST_F(StorageWidgets, AStoredLimitThatIsNoChoiceShowsNoneAndIsKeptUntilTheUserPicks) {
  VistrelConfig saved;
  saved.retentionDays = 45;
  saved.capGB = 7.5;
  auto model = makeModel(saved);
  StoragePane pane(*model);
  EXPECT_EQ(pane.retentionPicker()->currentIndex(), -1);
  EXPECT_EQ(pane.capPicker()->currentIndex(), -1);
  EXPECT_EQ(model->config().retentionDays, 45);
  EXPECT_EQ(model->config().capGB, 7.5);

  // Another setting changes: the redraw still leaves the limits alone.
  VistrelConfig config = model->config();
  config.interval = 10;
  model->setConfig(config);
  EXPECT_EQ(model->config().retentionDays, 45);
  EXPECT_EQ(pane.retentionPicker()->currentIndex(), -1);

  const int week = pane.retentionPicker()->findText(QStringLiteral("7 days"));
  pane.retentionPicker()->setCurrentIndex(week);
  Q_EMIT pane.retentionPicker()->activated(week);
  EXPECT_EQ(model->config().retentionDays, 7);
  const int twenty = pane.capPicker()->findText(QStringLiteral("20 GB"));
  Q_EMIT pane.capPicker()->activated(twenty);
  EXPECT_EQ(model->config().capGB, 20.0);
  EXPECT_EQ(pane.capPicker()->currentIndex(), twenty);
}

TEST_F(StorageWidgets, PickerChoicesReadAsDaysAndWholeGigabytes) {
  auto model = makeModel({});
  StoragePane pane(*model);
  QStringList days, caps;
  for (int i = 0; i < pane.retentionPicker()->count(); ++i)
    days << pane.retentionPicker()->itemText(i);
  for (int i = 0; i < pane.capPicker()->count(); ++i)
    caps << pane.capPicker()->itemText(i);
  EXPECT_EQ((days.join(u'|')).toStdString(), "1 day|3 days|7 days|14 days|30 days|60 days|90 days");
  EXPECT_EQ((caps.join(u'|')).toStdString(), "1 GB|2 GB|5 GB|10 GB|20 GB|50 GB");
  EXPECT_EQ((pane.retentionPicker()->currentText()).toStdString(), "30 days");
  EXPECT_EQ((pane.capPicker()->currentText()).toStdString(), "5 GB");
}

TEST_F(StorageWidgets, CancellingTheConfirmationDeletesNothing) {
  auto model = makeModel({});
  ASSERT_TRUE(AppModelTestAccess{*model}.openLibrary(true));
  StoragePane pane(*model);
  pane.askToDeleteEverything();
  ASSERT_NE(pane.confirmation(), nullptr);
  EXPECT_TRUE(pane.confirmAll());
  EXPECT_EQ((pane.confirmation()->text()).toStdString(), "Delete the whole history?");
  EXPECT_EQ((pane.confirmation()->informativeText()).toStdString(),
            "All 0 frames and the encryption key are removed. This can\u2019t be undone.");
  pane.confirmation()->button(QMessageBox::Cancel)->click();
  EXPECT_FALSE(pane.confirmAll());
  EXPECT_TRUE(model->isLibraryOpen());
  EXPECT_NE(keys->load(), std::nullopt);
}

// No session bus at all, so no keyring: the pane says the key is in a key file and why.
TEST_F(StorageWidgets, WithoutAKeyringThePaneSaysTheKeyIsInAKeyFileAndWhy) {
  testing::TemporaryFolder configHome;
  ScopedEnvironment config("XDG_CONFIG_HOME", configHome.path().c_str());
  const std::string nowhere = "unix:path=" + (configHome.path() / "no-bus").string();
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nowhere.c_str());
  keyStore = makePlatformKeyStore({.dataFolder = folder.path()});
  VistrelConfig saved;
  saved.captureEnabled = false;
  auto model = makeModel(saved);
  StoragePane pane(*model);
  ASSERT_TRUE(AppModelTestAccess{*model}.openLibrary(true));

  const std::filesystem::path keyFile = configHome.path() / "Vistrel" / "history-key";
  ASSERT_TRUE(std::filesystem::exists(keyFile));
  const std::string shown =
      abbreviatedPath(keyFile, {QDir::homePath().toStdString(), homeFolder()}).toStdString();
  QStringList labels;
  for (const QLabel* label : pane.findChildren<QLabel*>())
    labels << label->text();
  EXPECT_TRUE(labels.contains(
      QString::fromStdString(texts::keptKeyText(texts::KeyPlace::keyFileWithoutKeyring, shown))))
      << labels.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(labels.contains(
      QString::fromStdString(texts::deleteCardText(texts::KeyPlace::keyFileWithoutKeyring))));
}

TEST_F(StorageWidgets, HowToUseShowsTheCurrentPauseShortcut) {
  auto model = makeModel({});
  HelpPane help(*model);
  const auto shortcutRow = [&help] {
    for (QWidget* widget : help.findChildren<QWidget*>()) {
      if (widget->accessibleName() == QStringLiteral("Pause or resume anywhere"))
        return widget->accessibleDescription().toStdString();
    }
    return std::string("no row");
  };
  EXPECT_EQ(shortcutRow(), "Ctrl+Alt+Super+P");
  VistrelConfig config = model->config();
  config.pauseShortcut = Shortcut{36, Modifiers::shift | Modifiers::command};
  model->setConfig(config);
  EXPECT_EQ(shortcutRow(), "Shift+Super+Return");
}

TEST(StorageFormat, FiguresInTheUsersLocaleWithGroupsEvenInTheCLocale) {
  for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()}) {
    QLocale::setDefault(locale);
    EXPECT_EQ((deleteEverythingMessage(12345)).toStdString(),
              "All 12,345 frames and the encryption key are removed. This can\u2019t be undone.");
    EXPECT_EQ((groupedNumber(0)).toStdString(), "0");
    EXPECT_EQ((byteCount(0)).toStdString(), "0 bytes");
    EXPECT_EQ((byteCount(1'234'567)).toStdString(), "1.2 MB");
    EXPECT_EQ((monthAndDay(std::nullopt)).toStdString(), "\u2013");
  }
  QLocale::setDefault(QLocale::c());
}

TEST(StorageFormat, OnlyAWholeLeadingHomeIsWrittenAsTilde) {
  struct Case {
    const char* path;
    std::vector<std::filesystem::path> homes;
    const char* shown;
  };
  const Case cases[] = {
      {"/home/ann/.local/share/Vistrel", {"/home/ann"}, "~/.local/share/Vistrel"},
      {"/home/ann/.local/share/Vistrel", {"/home/ann/"}, "~/.local/share/Vistrel"},
      {"/home/anna/Vistrel", {"/home/ann"}, "/home/anna/Vistrel"},
      {"/srv/home/ann/Vistrel", {"/home/ann"}, "/srv/home/ann/Vistrel"},
      {"/home/ann", {"/home/ann"}, "~"},
      {"/tmp/h/home/Vistrel", {"/root", "/tmp/h/home"}, "~/Vistrel"},
      {"/data/Vistrel", {"/", ""}, "/data/Vistrel"},
  };
  for (const Case& c : cases)
    EXPECT_EQ((abbreviatedPath(c.path, c.homes)).toStdString(), c.shown) << c.path;
}

MoreAppsLoader offlineLoader(std::string bundled) {
  MoreAppsLoader loader;
  loader.feedURL = "https://tevrin77.com/more-apps.json";
  loader.bundled = [bundled] { return std::optional(bundled); };
  loader.now = [] { return std::chrono::system_clock::now(); };
  loader.transport = [](const MoreAppsRequest&) { return std::optional<MoreAppsResponse>(); };
  return loader;
}

TEST(MoreAppsWindowWidgets, RowsLeaveThisAppOutLocalizeAndLeadToTheirLinks) {
  const std::string feed = R"({"schema": 1, "apps": [
    {"id": "vistrel", "name": "Vistrel", "detail": "This one.", "symbol": "camera",
     "tint": "indigo", "url": "https://tevrin77.com/vistrel"},
    {"id": "tally", "name": "Tally", "detail": "Counts things.", "symbol": "no-such-icon-here",
     "tint": "green", "url": "https://tevrin77.com/tally",
     "localized": {"de": {"name": "Zähler", "detail": "Zählt Dinge."}}},
    {"id": "notekeeper", "name": "Notekeeper", "detail": "Notes.", "symbol": "text-x-generic",
     "tint": "orange", "url": "https://flathub.org/apps/com.tevrin77.Notekeeper"}]})";
  MoreAppsConfig config{"vistrel", "vistrel", true, "com.tevrin77.Vistrel", false};
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  MoreAppsWindow window(MoreAppsList(config, offlineLoader(feed), nullptr));
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ((window.windowTitle()).toStdString(), "More Apps");
  EXPECT_EQ(window.size(), QSize(440, 400));
  const auto rows = window.findChildren<MoreAppsRow*>();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ((rows[0]->accessibleName()).toStdString(), "Zähler");
  EXPECT_EQ((rows[0]->accessibleDescription()).toStdString(),
            "Zählt Dinge. Opens the app on the maker's site.");
  EXPECT_EQ(
      (rows[0]->link()).toStdString(),
      "https://tevrin77.com/tally?utm_source=vistrel&utm_medium=linux-app&utm_campaign=more-apps");
  EXPECT_EQ((rows[1]->accessibleName()).toStdString(), "Notekeeper");
  EXPECT_EQ((rows[1]->accessibleDescription()).toStdString(), "Notes. Opens the app on Flathub.");
  EXPECT_EQ((rows[1]->link()).toStdString(), "https://flathub.org/apps/com.tevrin77.Notekeeper");
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
