#include "Vistrel/gui/common/AppIcon.h"

#include <QFileInfo>
#include <QHash>

#include "Vistrel/platform/linux/DesktopEntries.h"

namespace vistrel {
namespace {

DesktopEntries& installedEntries() {
  static DesktopEntries entries(DesktopEntries::standardFolders(),
                                DesktopEntries::standardLocale());
  return entries;
}

QIcon genericIcon() {
  for (const char* name : {"application-x-executable", "window", "applications-other"}) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    if (!icon.isNull())
      return icon;
  }
  return {};
}

QIcon iconNamed(const std::string& iconField) {
  const QString field = QString::fromStdString(iconField);
  if (field.isEmpty())
    return {};
  if (QFileInfo(field).isAbsolute())
    return QFileInfo::exists(field) ? QIcon(field) : QIcon();
  return QIcon::fromTheme(field);
}

}  // namespace

QIcon appIcon(const QString& applicationID) {
  static QHash<QString, QIcon> cache;
  if (const auto found = cache.constFind(applicationID); found != cache.constEnd())
    return *found;
  QIcon icon;
  if (!applicationID.isEmpty()) {
    if (const auto entry = installedEntries().find(applicationID.toStdString()))
      icon = iconNamed(entry->icon);
  }
  if (icon.isNull())
    icon = genericIcon();
  cache.insert(applicationID, icon);
  return icon;
}

QString appDisplayName(const QString& applicationID) {
  if (applicationID.isEmpty())
    return {};
  const auto entry = installedEntries().find(applicationID.toStdString());
  return entry ? QString::fromStdString(entry->name) : QString();
}

}  // namespace vistrel
