#include "Vistrel/gui/shell/TrayMenu.h"

#include "Vistrel/gui/shell/ShortcutText.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {

TrayMenu::TrayMenu(AppModel& model, bool offersUpdateCheck, QWidget* parent)
    : QMenu(parent), model_(model), offersUpdateCheck_(offersUpdateCheck) {
  setAccessibleName(QStringLiteral("Vistrel"));
  connect(this, &QMenu::aboutToShow, this, &TrayMenu::rebuild);
  for (const auto signal :
       {&AppModel::configChanged, &AppModel::statusLineChanged, &AppModel::lastNoticeChanged,
        &AppModel::libraryChanged, &AppModel::menuBarSymbolChanged})
    connect(&model_, signal, this, &TrayMenu::scheduleRebuild);
  rebuild();
}

void TrayMenu::scheduleRebuild() {
  // Later, not now: the change may come from one of this menu's own entries, still running.
  if (rebuildPending_)
    return;
  rebuildPending_ = true;
  QMetaObject::invokeMethod(this, &TrayMenu::rebuild, Qt::QueuedConnection);
}

QAction* TrayMenu::addEntry(const QString& title, std::function<void()> action) {
  QAction* entry = addAction(title);
  connect(entry, &QAction::triggered, this, [action = std::move(action)] { action(); });
  return entry;
}

QMenu* TrayMenu::addSubmenu(const QString& title) {
  auto submenu = std::make_unique<QMenu>(title);
  addMenu(submenu.get());
  return submenus_.emplace_back(std::move(submenu)).get();
}

TrayMenu::Shape TrayMenu::currentShape() const {
  const VistrelConfig& config = model_.config();
  return Shape{config.captureEnabled, model_.isPaused(), config.pauseShortcut,
               model_.isLibraryOpen(), model_.lastNotice().has_value()};
}

void TrayMenu::updateTexts() {
  statusEntry_->setText(QString::fromStdString(model_.statusLine()));
  if (noticeEntry_)
    noticeEntry_->setText(QString::fromStdString(model_.lastNotice().value_or(std::string())));
}

void TrayMenu::rebuild() {
  rebuildPending_ = false;
  const Shape shape = currentShape();
  if (builtShape_ == shape)
    return updateTexts();
  builtShape_ = shape;
  clear();
  // The submenus of the previous build go only once their entries have left this menu.
  submenus_.clear();

  statusEntry_ = addAction(QString());
  statusEntry_->setEnabled(false);
  noticeEntry_ = nullptr;
  if (shape.hasNotice) {
    noticeEntry_ = addAction(QString());
    noticeEntry_->setEnabled(false);
  }
  updateTexts();
  addSeparator();
  addCaptureControls();
  addSeparator();

  addEntry(QStringLiteral("Search History\u2026"), [this] {
    model_.showMainWindow(Pane::search);
  })->setShortcut(QKeySequence(QStringLiteral("Ctrl+F")));
  addEntry(QStringLiteral("Timeline"), [this] { model_.showMainWindow(Pane::timeline); });
  QMenu* deleteRecent = addSubmenu(QStringLiteral("Delete Recent"));
  const std::pair<const char*, std::optional<double>> ranges[] = {
      {"Last 15 Minutes", 15.0}, {"Last Hour", 60.0}, {"Today", std::nullopt}};
  for (const auto& [title, minutes] : ranges) {
    QAction* entry = deleteRecent->addAction(QString::fromUtf8(title));
    connect(entry, &QAction::triggered, this,
            [this, minutes = minutes] { model_.deleteRecent(minutes); });
  }
  deleteRecent->setEnabled(model_.isLibraryOpen());
  addSeparator();

  addEntry(QStringLiteral("Capture Settings\u2026"), [this] {
    model_.showMainWindow(Pane::capture);
  })->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
  addEntry(QStringLiteral("Privacy\u2026"), [this] { model_.showMainWindow(Pane::privacy); });
  addEntry(QStringLiteral("Storage\u2026"), [this] { model_.showMainWindow(Pane::storage); });
  addEntry(QStringLiteral("How to Use"), [this] { model_.showMainWindow(Pane::help); });
  addSeparator();

  if (offersUpdateCheck_)
    addEntry(QStringLiteral("Check for Updates\u2026"),
             [this] { Q_EMIT checkForUpdatesRequested(); });
  addEntry(QStringLiteral("More Apps\u2026"), [this] { Q_EMIT moreAppsRequested(); });
  addSeparator();
  addEntry(QStringLiteral("Quit Vistrel"), [this] {
    Q_EMIT quitRequested();
  })->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
}

void TrayMenu::addCaptureControls() {
  const VistrelConfig& config = model_.config();
  if (!config.captureEnabled) {
    addEntry(QStringLiteral("Turn Capture On"), [this] {
      VistrelConfig changed = model_.config();
      changed.captureEnabled = true;
      model_.setConfig(std::move(changed));
    });
    return;
  }
  const QString shortcut = shortcutText(config.pauseShortcut);
  if (model_.isPaused()) {
    addEntry(QStringLiteral("Resume Capture  ") + shortcut, [this] { model_.resume(); });
  } else {
    addEntry(QStringLiteral("Pause  ") + shortcut, [this] { model_.pause(std::nullopt); });
    QMenu* pauseFor = addSubmenu(QStringLiteral("Pause For"));
    connect(pauseFor->addAction(QStringLiteral("15 Minutes")), &QAction::triggered, this,
            [this] { model_.pause(15); });
    connect(pauseFor->addAction(QStringLiteral("1 Hour")), &QAction::triggered, this,
            [this] { model_.pause(60); });
    connect(pauseFor->addAction(QStringLiteral("Until Tomorrow")), &QAction::triggered, this,
            [this] { model_.pauseUntilTomorrow(); });
  }
  addEntry(QStringLiteral("Turn Capture Off"), [this] {
    VistrelConfig changed = model_.config();
    changed.captureEnabled = false;
    model_.setConfig(std::move(changed));
  });
}

}  // namespace vistrel
