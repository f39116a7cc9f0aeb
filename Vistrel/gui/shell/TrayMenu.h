#pragma once

#include <QMenu>
#include <functional>
#include <memory>
#include <vector>

namespace vistrel {

class AppModel;

// The tray icon's menu: the capture status, the capture controls, quick deletions and the ways
// into the main window. It is rebuilt from the model every time it opens, and whenever what it
// shows changes, so a tray host that reads it without opening it sees current entries too.
class TrayMenu : public QMenu {
  Q_OBJECT

 public:
  // `offersUpdateCheck` false leaves out "Check for Updates…" (builds without the check).
  TrayMenu(AppModel& model, bool offersUpdateCheck, QWidget* parent = nullptr);

  void rebuild();

 Q_SIGNALS:
  void checkForUpdatesRequested();
  void moreAppsRequested();
  void quitRequested();

 private:
  QAction* addEntry(const QString& title, std::function<void()> action);
  QMenu* addSubmenu(const QString& title);
  void addCaptureControls();
  void scheduleRebuild();

  AppModel& model_;
  bool offersUpdateCheck_;
  bool rebuildPending_ = false;
  std::vector<std::unique_ptr<QMenu>> submenus_;
};

}  // namespace vistrel
