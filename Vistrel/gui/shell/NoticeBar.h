#pragma once

#include <QFrame>

class QLabel;

namespace vistrel {

class AppModel;

// The one-line notice under the pane, shown while the model holds one. The model clears it
// after its time, so the bar has no timer of its own.
class NoticeBar : public QFrame {
  Q_OBJECT

 public:
  explicit NoticeBar(AppModel& model, QWidget* parent = nullptr);

  QString text() const;

 private:
  void refresh();

  AppModel& model_;
  QLabel* text_;
};

}  // namespace vistrel
