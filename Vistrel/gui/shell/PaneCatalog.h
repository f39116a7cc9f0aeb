#pragma once

#include <QIcon>
#include <QString>
#include <array>

#include "Vistrel/model/AppModel.h"

namespace vistrel {

// How the main window names and draws each pane: the sidebar and the Go menu share it.
struct PaneInfo {
  Pane pane;
  QString title;
  QString iconName;  // a freedesktop icon name
};

const std::array<PaneInfo, 6>& paneCatalog();
const PaneInfo& paneInfo(Pane pane);

// The number on a pane's sidebar row, 0 for none. Only Capture carries one: when capture is on
// without screen access, or when the history cannot be opened.
int paneBadge(const AppModel& model, Pane pane);

// An icon of the desktop's theme by its freedesktop name, trying the symbolic variant too, since
// some themes (Adwaita) ship only that one.
QIcon themeIcon(const QString& name);

}  // namespace vistrel
