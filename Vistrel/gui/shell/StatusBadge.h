#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;

namespace vistrel {

class AppModel;

// The capture state at the foot of the sidebar: a coloured dot, a title and a subtitle.
class StatusBadge : public QWidget {
  Q_OBJECT

 public:
  struct State {
    QColor dot;
    QString title;
    QString subtitle;

    friend bool operator==(const State&, const State&) = default;
  };

  // The first matching state: off, paused, recording, needs screen access.
  static State stateFor(const AppModel& model);

  explicit StatusBadge(AppModel& model, QWidget* parent = nullptr);

  const State& state() const { return state_; }

 private:
  void refresh();

  AppModel& model_;
  State state_;
  QLabel* dot_;
  QLabel* title_;
  QLabel* subtitle_;
};

}  // namespace vistrel
