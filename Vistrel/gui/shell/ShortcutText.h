#pragma once

#include <QString>

#include "VistrelKit/settings/Shortcut.h"

namespace vistrel {

// A shortcut as Linux desktops write it: "Ctrl+Alt+Super+P" (Ctrl, Alt, Shift, Super, then the
// key). The settings keep the stored codes; only the text shown differs.
QString shortcutText(const Shortcut& shortcut);

// The same as a screen reader says it: "Control Alt Super P".
QString spokenShortcutText(const Shortcut& shortcut);

}  // namespace vistrel
