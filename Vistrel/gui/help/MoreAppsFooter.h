#pragma once

#include <QWidget>

namespace vistrel {

// The foot of the How to Use pane: who makes Vistrel, and the button to the maker's other apps.
class MoreAppsFooter : public QWidget {
  Q_OBJECT

 public:
  explicit MoreAppsFooter(QWidget* parent = nullptr);

 Q_SIGNALS:
  void moreAppsRequested();
};

}  // namespace vistrel
