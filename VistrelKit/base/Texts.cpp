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
          keyringError(-2),
          keyMissingProblem(KeyPlace::keyring),
          keyMissingProblem(KeyPlace::keyFile)};
}

}  // namespace vistrel::texts
