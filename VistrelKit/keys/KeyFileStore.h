#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "VistrelKit/keys/KeyStore.h"

namespace vistrel {

// Keeps the master key as a file of exactly its 32 raw bytes, for machines without a Secret
// Service and for an explicitly chosen key file.
//
// load: no file = none; a file that is not exactly 32 bytes fails with status 0 and is left as
// it is. A link is not followed (-40), a file of another user (-1) or with a second name (-31) is
// refused untouched, and the user's own file that others may read is made 0600 first. save: creates
// missing folders 0700, writes a temporary file (0600) in the same folder, flushes it to disk and
// renames it over the key file, so a reader sees the old key or the new one, never a part. remove:
// deletes the file; no file is no error.
//
// Failures are VistrelCryptoError::keychain with status -errno of the failing system call
// (-13 permission denied, -21 a folder where the file should be, -28 disk full, ...); a store
// without a path fails with -2 (ENOENT). Always negative and above -1000, so never equal to a
// Secret Service status (KeychainKeyStore.h).
//
// Holds no mutable state; every operation may be called from any thread at once.
class KeyFileStore : public KeyStore {
 public:
  explicit KeyFileStore(std::filesystem::path path);

  // $XDG_CONFIG_HOME/Vistrel/history-key, else <home>/.config/Vistrel/history-key with the home
  // folder from the user database, else $HOME. Empty when no home folder is known.
  static std::filesystem::path defaultPath();

  std::optional<MasterKey> load() override;
  void save(const MasterKey& key) override;
  // As save, but the finished temporary file is linked to the key file's name, which fails when
  // a key file exists: of two creators, the second gets the first one's key.
  MasterKey create(const MasterKey& candidate) override;
  void remove() override;
  // "Key file <path>".
  std::string description() const override;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vistrel
