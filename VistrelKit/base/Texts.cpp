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

std::string keyStoreUnreachable(std::int32_t status) {
  // Never the delete advice: nothing is known to be wrong with the key or the history.
  return "Vistrel's keyring can't be reached (it is locked, not running or not answering), so the "
         "saved history can't be read for now. The history is intact: unlock or start the "
         "keyring, then try again. (" +
         keyringError(status) + ")";
}

std::string keyFileWithoutKeyringNotice(std::string_view keyFile) {
  return "No keyring runs on this desktop, so Vistrel's key is kept in the key file " +
         std::string(keyFile) + ".";
}

std::string keyMovedToKeyringNotice() {
  return "Vistrel's key moved from its key file into your keyring.";
}

std::string keyKeptBesideKeyringNotice(std::string_view keyFile) {
  return "Vistrel's key stays in the key file " + std::string(keyFile) +
         ": your keyring already holds a different Vistrel key, and both are kept.";
}

std::string keyMoveFailedNotice(std::string_view keyFile, std::int32_t status) {
  return "Vistrel's key stays in the key file " + std::string(keyFile) +
         " for now: moving it into your keyring failed (" + keyringError(status) + ")";
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
  const std::string inFile = encrypted + "in the key file " + std::string(keyFile) +
                             " (this computer only, never synced, readable only by your user "
                             "account)";
  if (place == KeyPlace::keyFile)
    return inFile + ".";
  return inFile +
         ", because this desktop has no keyring. Vistrel moves the key into the keyring when it "
         "finds one at a later start.";
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
          keyStoreUnreachable(-3024),
          keyFileWithoutKeyringNotice("~/.config/Vistrel/history-key"),
          keyMovedToKeyringNotice(),
          keyKeptBesideKeyringNotice("~/.config/Vistrel/history-key"),
          keyMoveFailedNotice("~/.config/Vistrel/history-key", -2009),
          keptKeyText(KeyPlace::keyring, {}),
          keptKeyText(KeyPlace::keyFile, "~/.config/Vistrel/history-key"),
          keptKeyText(KeyPlace::keyFileWithoutKeyring, "~/.config/Vistrel/history-key"),
          deleteCardText(KeyPlace::keyring),
          deleteCardText(KeyPlace::keyFile)};
}

}  // namespace vistrel::texts
