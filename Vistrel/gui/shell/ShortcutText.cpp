#include "Vistrel/gui/shell/ShortcutText.h"

#include <QStringList>

namespace vistrel {

QString shortcutText(const Shortcut& shortcut) {
  QStringList parts;
  const std::pair<Modifiers, const char*> order[] = {{Modifiers::control, "Ctrl"},
                                                     {Modifiers::option, "Alt"},
                                                     {Modifiers::shift, "Shift"},
                                                     {Modifiers::command, "Super"}};
  for (const auto& [flag, word] : order) {
    if (shortcut.modifiers.contains(flag))
      parts << QString::fromLatin1(word);
  }
  // The spoken name: words where the Mac would draw a symbol ("Return", not the arrow).
  parts << QString::fromStdString(Shortcut::spokenKeyName(shortcut.keyCode));
  return parts.join(QLatin1Char('+'));
}

QString spokenShortcutText(const Shortcut& shortcut) {
  QStringList parts;
  const std::pair<Modifiers, const char*> order[] = {{Modifiers::control, "Control"},
                                                     {Modifiers::option, "Alt"},
                                                     {Modifiers::shift, "Shift"},
                                                     {Modifiers::command, "Super"}};
  for (const auto& [flag, word] : order) {
    if (shortcut.modifiers.contains(flag))
      parts << QString::fromLatin1(word);
  }
  parts << QString::fromStdString(Shortcut::spokenKeyName(shortcut.keyCode));
  return parts.join(QLatin1Char(' '));
}

}  // namespace vistrel
