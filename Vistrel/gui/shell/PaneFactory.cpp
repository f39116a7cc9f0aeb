#include "Vistrel/gui/shell/PaneFactory.h"

#include "Vistrel/gui/capture/CapturePane.h"
#include "Vistrel/gui/help/HelpPane.h"
#include "Vistrel/gui/privacy/PrivacyPane.h"
#include "Vistrel/gui/search/SearchPane.h"
#include "Vistrel/gui/shell/MainWindow.h"
#include "Vistrel/gui/storage/StoragePane.h"
#include "Vistrel/gui/timeline/TimelinePane.h"

namespace vistrel {

QWidget* createPane(Pane pane, AppModel& model, QWidget* parent) {
  switch (pane) {
    case Pane::search:
      return new SearchPane(model, parent);

    case Pane::timeline:
      return new TimelinePane(model, parent);

    case Pane::capture:
      return new CapturePane(model, parent);

    case Pane::privacy:
      return new PrivacyPane(model, parent);

    case Pane::storage:
      return new StoragePane(model, parent);

    case Pane::help: {
      auto* help = new HelpPane(model, parent);
      // The footer's button opens the same other-apps window as the menus.
      if (auto* window = qobject_cast<MainWindow*>(parent))
        QObject::connect(help, &HelpPane::moreAppsRequested, window,
                         &MainWindow::moreAppsRequested);
      return help;
    }
  }
  Q_UNREACHABLE();
  return nullptr;
}

}  // namespace vistrel
