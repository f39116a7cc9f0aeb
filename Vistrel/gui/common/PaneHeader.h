#pragma once

#include <QString>
#include <QWidget>

namespace vistrel {

// The large title and secondary line at the top of a settings pane.
class PaneHeader : public QWidget {
  Q_OBJECT

 public:
  PaneHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
};

}  // namespace vistrel
