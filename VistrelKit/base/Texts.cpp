#include "VistrelKit/base/Texts.h"

namespace vistrel::texts {

std::string keyringError(std::int32_t status) {
  return "Keyring error " + std::to_string(status) + ".";
}

std::string keyMissingProblem(KeyPlace place) {
  return std::string("Vistrel's key is missing from the ") +
         (place == KeyPlace::keyring ? "keyring" : "key file") +
         ", so the saved history can't be read. Delete the history in Storage to start fresh.";
}

std::string keptKeyText(KeyPlace place, std::string_view keyFile) {
  const std::string encrypted =
      "Each frame's image, its text, the window title and the app name are encrypted with "
      "AES-256-GCM. The key is random, made on this computer, and kept ";
  if (place == KeyPlace::keyring)
    return encrypted +
           "in your login keyring (this computer only, never synced, readable only while you're "
           "logged in and the keyring is unlocked).";
  // A key file has no lock of its own: only the file's permissions guard it.
  return encrypted + "in the key file " + std::string(keyFile) +
         " (this computer only, never synced, readable only by your user account).";
}

std::string deleteCardText(KeyPlace place) {
  return std::string(
             "Deleting removes the frames, their text and their index entries for good. Delete "
             "Everything also deletes the encryption key ") +
         (place == KeyPlace::keyring ? "from the keyring." : "and its key file.");
}

std::vector<std::string> allLinuxTexts() {
  return {std::string(idleSkip),
          std::string(noScreenAccessSkip),
          std::string(turnOnFromTrayFirst),
          std::string(waylandUnsupported),
          std::string(wrongKey),
          std::string(captureSubtitle),
          std::string(screenAccessExplanation),
          std::string(screenAccessStepX11),
          std::string(screenAccessStepNoPermission),
          std::string(screenAccessStepCapture),
          std::string(idleCheckBox),
          std::string(neverSavedApps),
          std::string(neverSavedSecureInput),
          std::string(privateWindowsExplanation),
          std::string(secureInputExplanation),
          std::string(nothingSavedYet),
          keyringError(-2),
          keyMissingProblem(KeyPlace::keyring),
          keyMissingProblem(KeyPlace::keyFile),
          keptKeyText(KeyPlace::keyring, {}),
          keptKeyText(KeyPlace::keyFile, "~/.config/Vistrel/history-key"),
          deleteCardText(KeyPlace::keyring),
          deleteCardText(KeyPlace::keyFile)};
}

}  // namespace vistrel::texts
