#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vistrel {

// The modifier keys of a shortcut, a set of flags kept as the raw bits that the settings file
// stores: shift 1, control 2, option 4, command 8. On Linux option is Alt and command is Super.
struct Modifiers {
  int rawValue = 0;

  static const Modifiers shift;
  static const Modifiers control;
  static const Modifiers option;
  static const Modifiers command;

  constexpr bool contains(Modifiers other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }
  constexpr bool isEmpty() const { return rawValue == 0; }

  friend constexpr Modifiers operator|(Modifiers a, Modifiers b) {
    return Modifiers{a.rawValue | b.rawValue};
  }
  friend constexpr bool operator==(Modifiers, Modifiers) = default;
};

inline constexpr Modifiers Modifiers::shift{1};
inline constexpr Modifiers Modifiers::control{2};
inline constexpr Modifiers Modifiers::option{4};
inline constexpr Modifiers Modifiers::command{8};

// A global keyboard shortcut: a layout-independent key code plus the modifiers that must be held.
// Key codes are the Mac virtual key codes (35 is P); the platform layer maps them to its own keys.
struct Shortcut {
  std::uint32_t keyCode = 0;
  Modifiers modifiers;

  // Control-Option-Command-P.
  static const Shortcut defaultPause;

  // Held modifiers as symbols (control, option, shift, command) directly followed by the key name.
  std::string display() const;
  // Held modifiers as words (Control Option Shift Command) and the spoken key name,
  // space-separated.
  std::string spokenDescription() const;
  // A global shortcut needs control, option or command; shift alone is a typing key.
  bool isAcceptable() const;
  // A warning for the few command-only shortcuts that every user knows from other apps.
  std::optional<std::string> wellKnownNote() const;

  // "A", "↩", "F5", ... or "Key <code>" for a code without a name.
  static std::string keyName(std::uint32_t keyCode);
  // "Return", "Left Arrow", ... where a symbol would be read badly aloud, else keyName.
  static std::string spokenKeyName(std::uint32_t keyCode);

  friend constexpr bool operator==(const Shortcut&, const Shortcut&) = default;
};

inline constexpr Shortcut Shortcut::defaultPause{
    35, Modifiers::control | Modifiers::option | Modifiers::command};

}  // namespace vistrel
