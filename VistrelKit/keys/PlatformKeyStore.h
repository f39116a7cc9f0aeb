#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/KeyStore.h"
#include "VistrelKit/keys/KeychainKeyStore.h"

namespace vistrel {

// What one look at the session bus found.
struct SecretServiceProbe {
  enum class Presence {
    absent,       // no session bus, or a bus that knows no Secret Service and cannot start one
    unreachable,  // a bus or a Secret Service that did not answer in time, or failed to start
    answered,     // a Secret Service replied
  };
  Presence presence = Presence::absent;
  std::int32_t status = 0;   // unreachable: why, numbered as KeychainKeyStore numbers failures
  std::string keyringLabel;  // label of its default collection ("Login"); empty if unknown

  bool answered() const { return presence == Presence::answered; }
};

// Asks the session bus for the Secret Service (org.freedesktop.secrets), which the bus starts
// if it is installed but not running, and reads the label of its default collection. Gives up
// after `timeout`; without a session bus (no address, an address that leads nowhere, or only
// X11 autolaunch, which would spawn a new bus) it answers at once that there is none.
SecretServiceProbe probeSecretService(std::chrono::milliseconds timeout);

struct PlatformKeyStoreOptions {
  std::filesystem::path keyFile;     // an explicitly chosen key file (--key-file); empty = choose
  std::filesystem::path dataFolder;  // the key file must not lie inside it; empty = not checked
  std::chrono::milliseconds probeTimeout{1000};  // one look
  int probeTries = 3;                            // looks while the answer is "unreachable"
  std::chrono::milliseconds probePause{250};     // between two looks
  // While no key store can be used, a later operation looks again at most this often, so that
  // a keyring unlocked or started meanwhile is found without blocking every caller each time.
  std::chrono::milliseconds reprobeAfter{10000};
  std::string service{keyStoreService};
  std::string account{historyKeyAccount};
};

// Looks up to options.probeTries times, pausing between looks, while the Secret Service is
// unreachable; an answer or a certain absence ends the search at once.
SecretServiceProbe findSecretService(const PlatformKeyStoreOptions& options);

// Thrown when the key file would lie inside the data folder, where it would sit next to the
// history it unlocks. what() is the text shown to the user.
class KeyFileLocationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What became of a default key file found while a Secret Service answered.
struct KeyMoveReport {
  enum class Outcome {
    none,      // no key file to move
    moved,     // stored in the keyring, read back equal, the file removed
    keptBoth,  // the keyring already holds a different key: both stay, the file's key is used
    failed,    // a step failed: the file stays and is used; `status` says why
  };
  Outcome outcome = Outcome::none;
  std::int32_t status = 0;
  std::filesystem::path keyFile;
};

// The key store of the application and the command line. Where the key lives is decided once,
// honestly, when the store is made, first match wins:
// 1. an explicit key file;
// 2. a Secret Service that answers (after a few looks): the keyring. A default key file found
//    then (written while there was none) is moved into it: stored, read back and compared, and
//    only then removed; any failure leaves the file in place and in use. An item already in the
//    keyring is never replaced: if it holds a different key, both are kept and the file's key is
//    used (the one the history was sealed with since the file was made).
// 3. no Secret Service on the bus at all: the default key file (KeyFileStore::defaultPath).
// 4. a Secret Service that exists but does not answer: the default key file if there is one;
//    otherwise nothing is chosen, every operation fails with VistrelCryptoError::unreachable,
//    and a later operation looks again, once (at most every options.reprobeAfter).
// A key file is created only in case 3, and before creating one the bus is asked again, so a
// keyring that appeared since start-up gets the key instead.
//
// Safe to call from any thread: one operation at a time under the store's own lock.
class PlatformKeyStore : public KeyStore {
 public:
  // Looks at the bus (unless a key file is given) and moves a key file as above. Raises
  // KeyFileLocationError for a key file inside options.dataFolder.
  explicit PlatformKeyStore(PlatformKeyStoreOptions options);

  std::optional<MasterKey> load() override;
  void save(const MasterKey& key) override;
  MasterKey create(const MasterKey& candidate) override;
  // Removes the key wherever it is kept: the key file in use and, when a keyring answered, its
  // item too (after a kept-both start, the history goes with both keys).
  void remove() override;
  std::string description() const override;
  // Without a keyring on the bus, a key file that is not there does not prove the key lost.
  VistrelCryptoError noKeyError() const override;

  // The key file in use, if the key is kept in one.
  std::optional<std::filesystem::path> keyFile() const;
  // True when the key is kept in the default key file because no Secret Service exists.
  bool keptWithoutKeyring() const;
  // What happened to a key file found at start-up.
  KeyMoveReport moveReport() const;
  // True once this store has written a new key to the fallback key file.
  bool createdKeyFileWithoutKeyring() const;

 private:
  enum class Choice {
    unresolved,          // a Secret Service exists but did not answer; no key file
    keyring,             // the Secret Service
    chosenFile,          // the explicit key file
    fileWithoutKeyring,  // the default key file: no Secret Service exists
    fileBesideKeyring,   // the default key file, with a keyring that is silent or already full
  };

  // REQUIRES: mutex_ held.
  void choose(const SecretServiceProbe& probe);
  void moveIntoKeyring();
  KeyStore& current();
  KeyFileStore& useFile(Choice choice);

  PlatformKeyStoreOptions options_;
  std::filesystem::path defaultFile_;
  mutable std::mutex mutex_;
  Choice choice_ = Choice::unresolved;               // guarded by mutex_
  std::unique_ptr<KeychainKeyStore> keychain_;       // guarded by mutex_; set once one answered
  std::unique_ptr<KeyFileStore> file_;               // guarded by mutex_
  std::int32_t unreachableStatus_ = 0;               // guarded by mutex_
  std::chrono::steady_clock::time_point lastProbe_;  // guarded by mutex_
  KeyMoveReport moveReport_;                         // guarded by mutex_
  bool createdFileWithoutKeyring_ = false;           // guarded by mutex_
};

// The platform's key store: a PlatformKeyStore with these options.
std::unique_ptr<PlatformKeyStore> makePlatformKeyStore(const PlatformKeyStoreOptions& options = {});

}  // namespace vistrel
