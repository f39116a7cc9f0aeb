#pragma once

#include <QLabel>

#include "Vistrel/model/AppModel.h"

namespace vistrel {

// Stands in the detail area for a pane whose screen is not built yet, and says so.
class PanePlaceholder : public QLabel {
  Q_OBJECT

 public:
  PanePlaceholder(Pane pane, QWidget* parent = nullptr);
};

}  // namespace vistrel
