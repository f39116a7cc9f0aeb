#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "VistrelKit/Calendar.h"
#include "VistrelKit/Date.h"
#include "VistrelKit/FrameKeys.h"
#include "VistrelKit/KeyStore.h"
#include "VistrelKit/SQLiteDB.h"

namespace vistrel {

// The encrypted store of frames: one SQLite database ("history.sqlite") with a row per frame, a
// row per application and a keyed full-text index, plus one sealed image file per frame under
// "frames/". The on-disk format is described in docs/library-format.md.
//
// Ownership: the library owns its connection and its working keys; the master key stays in the
// key store. Shared by reference (std::shared_ptr) between the application model, the recorder
// and the screens; dropping the last reference closes the database.
//
// Thread safety: one operation at a time. Every public operation that touches the database or
// the frame files holds mutex_ for its whole duration, so callers on other threads wait for
// their turn and no two operations overlap. Private helpers marked "REQUIRES: mutex_ held" never
// take the lock; public operations call those helpers, never each other. folder(), calendar(),
// databaseURL() and dayFolderName() only read state that is fixed at construction and need no
// lock.
class FrameLibrary {
 public:
  static constexpr std::string_view databaseFileName = "history.sqlite";

  // True when the folder holds a database file.
  static bool exists(const std::filesystem::path& folder);
  static std::filesystem::path databaseURL(const std::filesystem::path& folder);

  // Opens the library in the folder, or creates it when `create` is set and there is none.
  // Returns null when there is no library and `create` is false; nothing is touched then.
  // A new master key is made (and saved to the store) only when the database file does not
  // exist yet; an existing database without a key in the store raises
  // VistrelCryptoError::wrongKey. Raises the key store's errors, the file system's errors
  // (std::filesystem::filesystem_error), SQLiteError and VistrelCryptoError::wrongKey.
  static std::shared_ptr<FrameLibrary> open(const std::filesystem::path& folder, KeyStore& keyStore,
                                            bool create, Calendar calendar);

  // Opens or creates the library with working keys already in hand: creates "frames/" (0700),
  // sets the folder to 0700, opens the database, lays down the schema, sets the database file
  // to 0600 and checks the key. Whatever was done before a failure stays on disk.
  FrameLibrary(std::filesystem::path folder, FrameKeys keys, Calendar calendar);
  FrameLibrary(const FrameLibrary&) = delete;
  FrameLibrary& operator=(const FrameLibrary&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path databaseURL() const { return databaseURL(folder_); }
  const Calendar& calendar() const { return calendar_; }

  // Verifies that the keys in hand are those the library was created with (VistrelCryptoError::
  // wrongKey otherwise); on a new library writes the check value and the first identifier.
  // Runs at every open.
  void checkKey();

  // Hands out the next frame identifier (from 1, never below the highest stored identifier
  // plus one) in a transaction of its own.
  std::int64_t allocateID();

  // "YYYY-MM-DD" of the date's local day in the library's calendar.
  std::string dayFolderName(Date date) const;

 private:
  // REQUIRES: mutex_ held (or the object still under construction).
  void checkKeyLocked();
  // REQUIRES: mutex_ held, inside a write transaction.
  std::int64_t allocateIDLocked();

  // Runs body between "BEGIN IMMEDIATE" and "COMMIT". If the body or the COMMIT raises,
  // runs "ROLLBACK" (its own failure ignored) and raises the original error.
  // REQUIRES: mutex_ held.
  template <typename Body>
  std::invoke_result_t<Body&> inTransaction(Body&& body);

  const std::filesystem::path folder_;
  const FrameKeys keys_;
  const Calendar calendar_;
  mutable std::mutex mutex_;
  std::shared_ptr<SQLiteDB> db_;  // set once by the constructor; guarded by mutex_ afterwards
};

template <typename Body>
std::invoke_result_t<Body&> FrameLibrary::inTransaction(Body&& body) {
  db_->exec("BEGIN IMMEDIATE");
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
      body();
      db_->exec("COMMIT");
    } else {
      auto result = body();
      db_->exec("COMMIT");
      return result;
    }
  } catch (...) {
    try {
      db_->exec("ROLLBACK");
    } catch (...) {
      // The original failure is the one worth reporting.
    }
    throw;
  }
}

}  // namespace vistrel
