#pragma once

#include <QScrollArea>

class QWidget;

namespace vistrel {

class AppModel;

// The How to Use pane: the manual in four cards, with the current pause shortcut, and the
// footer that leads to the maker's other apps.
class HelpPane : public QScrollArea {
  Q_OBJECT

 public:
  explicit HelpPane(AppModel& model, QWidget* parent = nullptr);

 Q_SIGNALS:
  void moreAppsRequested();

 private:
  void refreshShortcut();

  AppModel& model_;
  QWidget* shortcutRow_ = nullptr;
};

}  // namespace vistrel
