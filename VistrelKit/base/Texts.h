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

// The Capture screen.
inline constexpr std::string_view captureSubtitle =
    "A private history of your screen you can search: find the number, name or sentence you saw "
    "an hour ago or last week. It all stays on this computer, encrypted.";
inline constexpr std::string_view screenAccessExplanation =
    "On an X11 desktop Vistrel needs no permission to take a small screenshot every few seconds "
    "while capture is on. It keeps a frame only when the screen changed, reads its text on this "
    "computer with Tesseract, and stores both encrypted. Frames and their text never leave this "
    "computer.";
inline constexpr std::string_view screenAccessStepX11 =
    "Use an X11 session (often \"Xorg\" on the login screen).";
inline constexpr std::string_view screenAccessStepNoPermission =
    "Nothing to allow: X11 lets Vistrel read the screen.";
inline constexpr std::string_view screenAccessStepCapture =
    "Switch on \"Save what's on my screen\" below. Vistrel keeps capture as you left it.";
inline constexpr std::string_view idleCheckBox = "Stop while nobody is using the computer for";
inline constexpr std::string_view neverSavedApps =
    "Password managers and keyring tools (KeePassXC, Bitwarden, Passwords and Keys), plus any app "
    "you add in Privacy.";
inline constexpr std::string_view neverSavedSecureInput =
    "Anything while a password prompt or field is active, the screen is locked, or you're away.";

// The Privacy screen.
inline constexpr std::string_view privateWindowsExplanation =
    "Found by the marks browsers put in window titles: Firefox \u201cPrivate Browsing\u201d, "
    "Chrome and Brave \u201cIncognito\u201d, Edge \u201cInPrivate\u201d. A browser whose private "
    "windows carry no such mark can't be told apart, so add it above (or press %1 to pause) if "
    "you browse privately there.";
inline constexpr std::string_view secureInputExplanation =
    "Password prompts (pinentry, SSH askpass, the keyring, polkit and KWallet prompts) and, where "
    "the accessibility bus tells, password fields are recognised everywhere; nothing is saved "
    "while one is active.";

// Where the history's key is kept: the desktop's keyring, a key file the user chose, or the key
// file Vistrel falls back to because no keyring (Secret Service) runs on this desktop.
enum class KeyPlace { keyring, keyFile, keyFileWithoutKeyring };

std::string keyringError(std::int32_t status);
std::string keyMissingProblem(KeyPlace place);
// A keyring that is locked, not running or not answering: the history is intact.
std::string keyStoreUnreachable(std::int32_t status);
// Said when the key is first written to the fallback key file.
std::string keyFileWithoutKeyringNotice(std::string_view keyFile);
// What became of a key file found while a keyring answers.
std::string keyMovedToKeyringNotice();
std::string keyKeptBesideKeyringNotice(std::string_view keyFile);
std::string keyMoveFailedNotice(std::string_view keyFile, std::int32_t status);
// The Storage screen's sentence on how the history is encrypted and where its key is kept;
// keyFile is the key file's path as shown (home written "~"), used for KeyPlace::keyFile.
std::string keptKeyText(KeyPlace place, std::string_view keyFile);
// The Storage screen's explanation above the delete buttons.
std::string deleteCardText(KeyPlace place);

// Every text above, in one list, for the tests that read them all.
std::vector<std::string> allLinuxTexts();

}  // namespace vistrel::texts
