#include <gtest/gtest.h>

#include <regex>

#include "VistrelKit/base/Texts.h"
#include "VistrelKit/capture/ExclusionRules.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {
namespace {

// The Linux wording of every text that first named a macOS thing, as the user reads it.
TEST(LinuxTexts, ReadAsALinuxUserExpects) {
  const std::vector<std::pair<std::string, std::string>> shown = {
      {SkipReason::idle().message(), "Skipped: nobody is using the computer"},
      {SkipReason::noPermission().message(), "Waiting for screen access"},
      {std::string(texts::turnOnFromTrayFirst), "Capture is off: turn it on from the tray first."},
      {VistrelCryptoError::keychain(-4).what(), "Keyring error -4."},
      {VistrelCryptoError::wrongKey().what(),
       "The history was locked with a different key (the keyring entry or key file is missing or "
       "replaced)."},
      {texts::keyMissingProblem(texts::KeyPlace::keyring),
       "Vistrel's key is missing from the keyring, so the saved history can't be read. Delete the "
       "history in Storage to start fresh."},
      {texts::keyMissingProblem(texts::KeyPlace::keyFile),
       "Vistrel's key is missing from the key file, so the saved history can't be read. Delete the "
       "history in Storage to start fresh."},
      {texts::keptKeyText(texts::KeyPlace::keyring, "~/.config/Vistrel/history-key"),
       "Each frame's image, its text, the window title and the app name are encrypted with "
       "AES-256-GCM. The key is random, made on this computer, and kept in your login keyring "
       "(this computer only, never synced, readable only while you're logged in and the keyring "
       "is unlocked)."},
      {texts::keptKeyText(texts::KeyPlace::keyFile, "~/.config/Vistrel/history-key"),
       "Each frame's image, its text, the window title and the app name are encrypted with "
       "AES-256-GCM. The key is random, made on this computer, and kept in the key file "
       "~/.config/Vistrel/history-key (this computer only, never synced, readable only by your "
       "user account)."},
      {texts::keptKeyText(texts::KeyPlace::keyFileWithoutKeyring, "~/.config/Vistrel/history-key"),
       "Each frame's image, its text, the window title and the app name are encrypted with "
       "AES-256-GCM. The key is random, made on this computer, and kept in the key file "
       "~/.config/Vistrel/history-key (this computer only, never synced, readable only by your "
       "user account), because this desktop has no keyring. Vistrel moves the key into the "
       "keyring when it finds one at a later start."},
      {VistrelCryptoError::unreachable(-3024).what(),
       "Vistrel's keyring can't be reached (it is locked, not running or not answering), so the "
       "saved history can't be read for now. The history is intact: unlock or start the keyring, "
       "then try again. (Keyring error -3024.)"},
      {texts::keyFileWithoutKeyringNotice("~/.config/Vistrel/history-key"),
       "No keyring runs on this desktop, so Vistrel's key is kept in the key file "
       "~/.config/Vistrel/history-key."},
      {texts::keyKeptBesideKeyringNotice("~/.config/Vistrel/history-key"),
       "Vistrel's key stays in the key file ~/.config/Vistrel/history-key: your keyring already "
       "holds a different Vistrel key, and both are kept."},
      {texts::deleteCardText(texts::KeyPlace::keyring),
       "Deleting removes the frames, their text and their index entries for good. Delete "
       "Everything also deletes the encryption key from the keyring."},
      {texts::deleteCardText(texts::KeyPlace::keyFile),
       "Deleting removes the frames, their text and their index entries for good. Delete "
       "Everything also deletes the encryption key and its key file."},
      {std::string(texts::waylandUnsupported),
       "Screen capture isn't available: Wayland sessions are not supported yet. Log in with an "
       "X11 session (often called \"Xorg\" on the login screen)."},
  };
  for (const auto& [text, expected] : shown)
    EXPECT_EQ(text, expected);
}

TEST(LinuxTexts, NoneNamesAMacThing) {
  const std::regex macWords(R"(\bMac\b|Keychain|Finder|menu bar|Screen Recording|Vision|⌘|⌥)");
  for (const std::string& text : texts::allLinuxTexts())
    EXPECT_FALSE(std::regex_search(text, macWords)) << text;
}

}  // namespace
}  // namespace vistrel
