#pragma once

#include <QIcon>
#include <QString>

namespace vistrel {

// The icon of the application with this ID, as its desktop entry names it (a theme icon or a
// file), else a generic window icon. Entries are looked up once per ID and process; main thread
// only.
QIcon appIcon(const QString& applicationID);

// The name the application's desktop entry gives it, empty when there is no entry.
QString appDisplayName(const QString& applicationID);

}  // namespace vistrel
