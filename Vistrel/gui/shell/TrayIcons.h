#pragma once

#include <QIcon>
#include <QString>
#include <string>

namespace vistrel {

// The tray's four state pictures, drawn by us, for the model's menu-bar symbol names. The icon
// holds rendered pixmaps only, so a tray host that cannot draw SVG or read our resources still
// shows it.
QIcon trayIcon(const std::string& symbol);

// The resource path of the picture for a symbol name; the warning triangle for an unknown name.
QString trayIconResource(const std::string& symbol);

}  // namespace vistrel
