#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {

const std::array<PaneInfo, 6>& paneCatalog() {
  static const std::array<PaneInfo, 6> catalog{{
      {Pane::search, QStringLiteral("Search"), QStringLiteral("system-search")},
      {Pane::timeline, QStringLiteral("Timeline"), QStringLiteral("x-office-calendar")},
      {Pane::capture, QStringLiteral("Capture"), QStringLiteral("media-record")},
      {Pane::privacy, QStringLiteral("Privacy"), QStringLiteral("security-high")},
      {Pane::storage, QStringLiteral("Storage"), QStringLiteral("drive-harddisk")},
      {Pane::help, QStringLiteral("How to Use"), QStringLiteral("help-browser")},
  }};
  return catalog;
}

const PaneInfo& paneInfo(Pane pane) {
  return paneCatalog()[static_cast<std::size_t>(pane)];
}

int paneBadge(const AppModel& model, Pane pane) {
  if (pane != Pane::capture)
    return 0;
  const bool withoutAccess = model.config().captureEnabled && !model.screenRecording();
  return withoutAccess || model.libraryProblem() ? 1 : 0;
}

QIcon themeIcon(const QString& name) {
  QIcon icon = QIcon::fromTheme(name);
  if (icon.isNull())
    icon = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
  return icon;
}

}  // namespace vistrel
