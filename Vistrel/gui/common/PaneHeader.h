#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

class QLabel;

namespace vistrel {

// The large title and secondary line at the top of a settings pane.
class PaneHeader : public QWidget {
  Q_OBJECT

 public:
  PaneHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

  // For a pane whose title says the state it is in.
  void setTitle(const QString& title);
  // Shown before the texts; none at first.
  void setIcon(const QIcon& icon);
  QLabel* titleLabel() const { return title_; }

 private:
  QLabel* icon_;
  QLabel* title_;
};

}  // namespace vistrel
