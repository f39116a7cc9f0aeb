#pragma once

#include <QMenu>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "VistrelKit/settings/Shortcut.h"

namespace vistrel {

class AppModel;

// The tray icon's menu: the capture status, the capture controls, quick deletions and the ways
// into the main window. It follows the model every time it opens, and whenever what it shows
// changes, so a tray host that reads it without opening it sees current entries too. Entries
// are rebuilt only when the set of entries changes: a new status line changes a text in place,
// so that a click on an open menu is never lost to a rebuild that replaced its entry.
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
  void updateTexts();

  // Everything the choice of entries depends on; the status and notice texts are not in it.
  struct Shape {
    bool captureEnabled = false;
    bool paused = false;
    Shortcut shortcut;
    bool hasLibrary = false;
    bool hasNotice = false;

    friend bool operator==(const Shape&, const Shape&) = default;
  };
  Shape currentShape() const;

  AppModel& model_;
  bool offersUpdateCheck_;
  bool rebuildPending_ = false;
  std::vector<std::unique_ptr<QMenu>> submenus_;
  std::optional<Shape> builtShape_;
  QAction* statusEntry_ = nullptr;
  QAction* noticeEntry_ = nullptr;
};

}  // namespace vistrel
