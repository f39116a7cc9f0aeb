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
          std::string(nothingSavedYet),
          keyringError(-2),
          keyMissingProblem(KeyPlace::keyring),
          keyMissingProblem(KeyPlace::keyFile)};
}

}  // namespace vistrel::texts
