#include "Vistrel/gui/shell/PaneFactory.h"

#include "Vistrel/gui/capture/CapturePane.h"
#include "Vistrel/gui/privacy/PrivacyPane.h"
#include "Vistrel/gui/shell/PanePlaceholder.h"

namespace vistrel {

QWidget* createPane(Pane pane, AppModel& model, QWidget* parent) {
  switch (pane) {
    case Pane::search:
      return new PanePlaceholder(pane, parent);

    case Pane::timeline:
      return new PanePlaceholder(pane, parent);

    case Pane::capture:
      return new CapturePane(model, parent);

    case Pane::privacy:
      return new PrivacyPane(model, parent);

    case Pane::storage:
      return new PanePlaceholder(pane, parent);

    case Pane::help:
      return new PanePlaceholder(pane, parent);
  }
  return new PanePlaceholder(pane, parent);
}

}  // namespace vistrel
