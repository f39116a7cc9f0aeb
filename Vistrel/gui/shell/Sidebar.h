#pragma once

#include <QListWidget>

namespace vistrel {

class AppModel;

// The list of panes; its selection is the model's pane, both ways. A row's badge is painted at
// its right edge and also given to accessibility as the row's description.
class Sidebar : public QListWidget {
  Q_OBJECT

 public:
  explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

  // The badge a row shows now, 0 for none.
  int badge(int row) const;

 private:
  void showPane();
  void refreshBadges();

  AppModel& model_;
};

}  // namespace vistrel
