#include "Vistrel/gui/common/PanePage.h"

namespace vistrel {

QVBoxLayout* setUpPanePage(QScrollArea* pane, const QString& objectName) {
  pane->setObjectName(objectName);
  pane->setWidgetResizable(true);
  pane->setFrameShape(QFrame::NoFrame);
  auto* page = new QWidget(pane);
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(24, 20, 24, 20);
  column->setSpacing(16);
  return column;
}

}  // namespace vistrel
