#pragma once

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <cstdint>
#include <optional>

#include "VistrelKit/settings/Shortcut.h"

namespace vistrel {

// Shortcuts keep the Mac virtual key codes in the settings; on X11 each names the key that
// produces one keysym (35, the P key, is XK_p).
std::optional<xcb_keysym_t> keysymForKeyCode(std::uint32_t keyCode);

// The key code of a keysym; capital letters count as their key. Absent for keys without one.
std::optional<std::uint32_t> keyCodeForKeysym(xcb_keysym_t keysym);

// The key code of the key with X keycode `keycode` as its first level names it, so that Shift+1
// is still the 1 key whatever the layout puts above it. Absent for keys without a code.
std::optional<std::uint32_t> keyCodeForX11Key(xcb_connection_t* connection, xcb_keycode_t keycode);

// shift = Shift, control = Control, option = Alt (Mod1), command = Super (Mod4).
std::uint16_t x11ModifierMask(Modifiers modifiers);

// The modifiers held in an X11 key event's state; lock keys and mouse buttons are ignored.
Modifiers modifiersFromX11State(std::uint16_t state);

}  // namespace vistrel
