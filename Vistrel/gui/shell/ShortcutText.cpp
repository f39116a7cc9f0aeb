#include "Vistrel/gui/shell/ShortcutText.h"

#include <QStringList>
#include <array>

namespace vistrel {

namespace {

// The modifiers in the desktop's order, named by `names` (Ctrl, Alt, Shift, Super), then the key's
// spoken name: words where the Mac would draw a symbol ("Return", not the arrow).
QString joinedShortcut(const Shortcut& shortcut, const std::array<const char*, 4>& names,
                       QChar separator) {
  QStringList parts;
  const Modifiers order[] = {Modifiers::control, Modifiers::option, Modifiers::shift,
                             Modifiers::command};
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (shortcut.modifiers.contains(order[i]))
      parts << QString::fromLatin1(names[i]);
  }
  parts << QString::fromStdString(Shortcut::spokenKeyName(shortcut.keyCode));
  return parts.join(separator);
}

}  // namespace

QString shortcutText(const Shortcut& shortcut) {
  return joinedShortcut(shortcut, {"Ctrl", "Alt", "Shift", "Super"}, QLatin1Char('+'));
}

QString spokenShortcutText(const Shortcut& shortcut) {
  return joinedShortcut(shortcut, {"Control", "Alt", "Shift", "Super"}, QLatin1Char(' '));
}

}  // namespace vistrel
