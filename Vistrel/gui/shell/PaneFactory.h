#pragma once

#include <QWidget>

#include "Vistrel/model/AppModel.h"

namespace vistrel {

// The screen that fills the main window's detail area for a pane. Each pane is built once, with
// the model, and lives as long as the window.
QWidget* createPane(Pane pane, AppModel& model, QWidget* parent);

}  // namespace vistrel
