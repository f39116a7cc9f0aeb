#include "Vistrel/gui/shell/TrayIcons.h"

#include <QPixmap>

// The pictures live in a static library, whose resources are linked only when asked for.
static void loadTrayPictures() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(TrayIcons);
    return true;
  }();
  (void)loaded;
}

namespace vistrel {

QString trayIconResource(const std::string& symbol) {
  if (symbol == "record.circle.fill")
    return QStringLiteral(":/vistrel/tray/capture-on.svg");
  if (symbol == "pause.circle.fill")
    return QStringLiteral(":/vistrel/tray/paused.svg");
  if (symbol == "rewind.circle")
    return QStringLiteral(":/vistrel/tray/capture-off.svg");
  return QStringLiteral(":/vistrel/tray/warning.svg");
}

QIcon trayIcon(const std::string& symbol) {
  loadTrayPictures();
  const QIcon drawing(trayIconResource(symbol));
  QIcon rendered;
  for (const int size : {16, 22, 24, 32, 48, 64})
    rendered.addPixmap(drawing.pixmap(size, size));
  return rendered;
}

}  // namespace vistrel
