#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel::texts {

// The user-visible texts whose first wording named macOS things (the Mac, the Keychain, the menu
// bar, Screen Recording), in their Linux wording. They live together so that every such change
// is visible at a glance; the other texts stay where they are used.

inline constexpr std::string_view idleSkip = "Skipped: nobody is using the computer";
inline constexpr std::string_view noScreenAccessSkip = "Waiting for screen access";
inline constexpr std::string_view turnOnFromTrayFirst =
    "Capture is off: turn it on from the tray first.";
inline constexpr std::string_view waylandUnsupported =
    "Screen capture isn't available: Wayland sessions are not supported yet. Log in with an X11 "
    "session (often called \"Xorg\" on the login screen).";
inline constexpr std::string_view wrongKey =
    "The history was locked with a different key (the keyring entry or key file is missing or "
    "replaced).";
inline constexpr std::string_view nothingSavedYet =
    "Vistrel saves what's on your screen only while capture is on. Turn it on, use your computer "
    "as usual, and come back here to find anything you saw: a number, a name, a sentence.";

// Where the history's key is kept: the desktop's keyring, or a key file without one.
enum class KeyPlace { keyring, keyFile };

std::string keyringError(std::int32_t status);
std::string keyMissingProblem(KeyPlace place);
// The Storage screen's sentence on how the history is encrypted and where its key is kept;
// keyFile is the key file's path as shown (home written "~"), used for KeyPlace::keyFile.
std::string keptKeyText(KeyPlace place, std::string_view keyFile);
// The Storage screen's explanation above the delete buttons.
std::string deleteCardText(KeyPlace place);

// Every text above, in one list, for the tests that read them all.
std::vector<std::string> allLinuxTexts();

}  // namespace vistrel::texts
