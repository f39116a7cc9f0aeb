#include "Vistrel/gui/shell/PaneFactory.h"

#include "Vistrel/gui/shell/PanePlaceholder.h"
#include "Vistrel/gui/timeline/TimelinePane.h"

namespace vistrel {

QWidget* createPane(Pane pane, AppModel& model, QWidget* parent) {
  switch (pane) {
    case Pane::search:
      return new PanePlaceholder(pane, parent);

    case Pane::timeline:
      return new TimelinePane(model, parent);

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
