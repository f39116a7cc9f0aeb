#include "Vistrel/gui/shell/PaneFactory.h"

#include "Vistrel/gui/search/SearchPane.h"
#include "Vistrel/gui/shell/PanePlaceholder.h"

namespace vistrel {

QWidget* createPane(Pane pane, AppModel& model, QWidget* parent) {
  (void)model;
  switch (pane) {
    case Pane::search:
      return new SearchPane(model, parent);

    case Pane::timeline:
      return new PanePlaceholder(pane, parent);

    case Pane::capture:
      return new PanePlaceholder(pane, parent);

    case Pane::privacy:
      return new PanePlaceholder(pane, parent);

    case Pane::storage:
      return new PanePlaceholder(pane, parent);

    case Pane::help:
      return new PanePlaceholder(pane, parent);
  }
  return new PanePlaceholder(pane, parent);
}

}  // namespace vistrel
