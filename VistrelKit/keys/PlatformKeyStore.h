#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "VistrelKit/keys/KeyStore.h"
#include "VistrelKit/keys/KeychainKeyStore.h"

namespace vistrel {

// What a quick look at the session bus found.
struct SecretServiceProbe {
  bool answered = false;     // a Secret Service replied on the session bus
  std::string keyringLabel;  // label of its default collection ("Login"); empty if unknown
};

// Asks the session bus for the Secret Service (org.freedesktop.secrets), which the bus starts
// if it is installed but not running, and reads the label of its default collection. Gives up
// after `timeout`; without a session bus (no address, an address that leads nowhere, or only
// X11 autolaunch, which would spawn a new bus) it answers at once that there is none.
SecretServiceProbe probeSecretService(std::chrono::milliseconds timeout);

struct PlatformKeyStoreOptions {
  std::filesystem::path keyFile;     // an explicitly chosen key file (--key-file); empty = choose
  std::filesystem::path dataFolder;  // the key file must not lie inside it; empty = not checked
  std::chrono::milliseconds probeTimeout{1000};
  std::string service{keyStoreService};
  std::string account{historyKeyAccount};
};

// Thrown when the key file would lie inside the data folder, where it would sit next to the
// history it unlocks. what() is the text shown to the user.
class KeyFileLocationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Picks where the master key lives, first match wins:
// 1. an explicit key file;
// 2. the default key file (KeyFileStore::defaultPath) if it exists: a key written there while no
//    Secret Service was around stays the key after one appears;
// 3. the Secret Service, when one answers within the timeout;
// 4. the default key file.
// Only the probe in step 3 touches the bus. Raises KeyFileLocationError for a key file inside
// options.dataFolder.
std::unique_ptr<KeyStore> makePlatformKeyStore(const PlatformKeyStoreOptions& options = {});

}  // namespace vistrel
