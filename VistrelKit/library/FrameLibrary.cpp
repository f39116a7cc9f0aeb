#include "VistrelKit/library/FrameLibrary.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "VistrelKit/library/LibraryOwnership.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "VistrelKit/library/Transaction.h"

namespace vistrel {

namespace fs = std::filesystem;

namespace {

constexpr const char* schemaScript =
    "PRAGMA auto_vacuum = INCREMENTAL;\n"
    "PRAGMA journal_mode = WAL;\n"
    "PRAGMA secure_delete = ON;\n"
    "CREATE TABLE IF NOT EXISTS info(k TEXT PRIMARY KEY, v BLOB);\n"
    "CREATE TABLE IF NOT EXISTS frames(id INTEGER PRIMARY KEY, ts REAL NOT NULL, "
    "app_tag BLOB NOT NULL,\n"
    "    bytes INTEGER NOT NULL, meta BLOB NOT NULL, thumb BLOB NOT NULL, file TEXT NOT NULL);\n"
    "CREATE INDEX IF NOT EXISTS frames_ts ON frames(ts);\n"
    "CREATE INDEX IF NOT EXISTS frames_app ON frames(app_tag, ts);\n"
    "CREATE TABLE IF NOT EXISTS apps(tag BLOB PRIMARY KEY, meta BLOB NOT NULL);\n";

// Keeps the index without a copy of the token lists; SQLite before 3.43 refuses it.
constexpr const char* contentlessIndex =
    "CREATE VIRTUAL TABLE IF NOT EXISTS frame_index USING fts5(terms, content='', "
    "contentless_delete=1, detail=none)";
constexpr const char* contentIndex =
    "CREATE VIRTUAL TABLE IF NOT EXISTS frame_index USING fts5(terms, detail=none)";

constexpr std::string_view checkPlaintext = "vistrel-check";

// SQLite gives its "-wal" and "-shm" files the permissions of the database file, and creates
// them while the schema runs, before the database file's permissions are tightened. Creating a
// missing database file as 0600 first keeps all three owner-only. An empty file is a valid
// empty database. Failures are left for SQLite's own open to report.
void precreateDatabaseFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
  }
}

// An exclusive advisory lock on a folder, held until destruction. flock() on the folder itself
// needs no lock file, and the kernel drops it when a holder dies. A folder removed and made anew
// while we waited is locked again, so that every holder locks the folder that is at the path.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) {
    while (true) {
      createPrivateFolders(folder);
      fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd_ < 0)
        fail(folder, errno);
      while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR)
          fail(folder, errno);
      }
      struct stat locked {};
      struct stat current {};
      if (::fstat(fd_, &locked) != 0)
        fail(folder, errno);
      if (::lstat(folder.c_str(), &current) == 0 && current.st_dev == locked.st_dev &&
          current.st_ino == locked.st_ino)
        return;
      ::close(std::exchange(fd_, -1));
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { ::close(fd_); }

 private:
  [[noreturn]] void fail(const fs::path& folder, int error) {
    if (fd_ >= 0)
      ::close(std::exchange(fd_, -1));
    throw fs::filesystem_error("Couldn't lock the data folder", folder,
                               std::error_code(error, std::generic_category()));
  }

  int fd_ = -1;
};

}  // namespace

std::vector<std::string> FrameLibrary::destroy(const fs::path& folder, KeyStore& keyStore) {
  std::vector<std::string> failures;
  const std::string database(databaseFileName);
  for (const std::string& name : {database, database + "-wal", database + "-shm"}) {
    std::error_code error;
    fs::remove(folder / name, error);
    if (error)
      failures.push_back(name + ": " + error.message());
  }
  std::error_code error;
  fs::remove_all(folder / "frames", error);
  if (error)
    failures.push_back("frames: " + error.message());
  try {
    keyStore.remove();
  } catch (const std::exception& keyError) {
    failures.push_back("the key: " + std::string(keyError.what()));
  }
  return failures;
}

bool FrameLibrary::exists(const fs::path& folder) {
  std::error_code error;
  return fs::exists(databaseURL(folder), error);
}

fs::path FrameLibrary::databaseURL(const fs::path& folder) {
  return folder / databaseFileName;
}

std::shared_ptr<FrameLibrary> FrameLibrary::open(const fs::path& folder, KeyStore& keyStore,
                                                 bool create, Calendar calendar) {
  // Before the key store is asked or anything is made: a folder or file that is not the user's
  // own is refused untouched.
  claimLibraryFiles(folder);
  const bool existed = exists(folder);
  if (!existed && !create) {
    return nullptr;
  }
  if (existed) {
    const std::optional<MasterKey> masterKey = loadOrCreate(keyStore, false);
    if (!masterKey)
      throw keyStore.noKeyError();
    return std::make_shared<FrameLibrary>(folder, FrameKeys::derive(*masterKey),
                                          std::move(calendar));
  }
  // Two first runs at once (the application and the command line) must not each make a key: the
  // later save would replace the key the library is sealed with. One lock on the data folder
  // covers "is there a library, the key, the schema, the check"; the second creator finds the
  // first one's library and opens it with its key.
  std::error_code missing;
  const bool madeFolder = !fs::exists(folder, missing);
  const FolderLock lock(folder);
  std::optional<MasterKey> masterKey;
  try {
    masterKey = loadOrCreate(keyStore, !exists(folder));
  } catch (...) {
    // A key store that failed leaves no trace: the folder made for the library goes again
    // (rmdir removes only an empty folder, so another creator's files stay).
    if (madeFolder)
      ::rmdir(folder.c_str());
    throw;
  }
  if (!masterKey)
    throw keyStore.noKeyError();
  return std::make_shared<FrameLibrary>(folder, FrameKeys::derive(*masterKey), std::move(calendar));
}

FrameLibrary::FrameLibrary(fs::path folder, FrameKeys keys, Calendar calendar)
    : folder_(std::move(folder)), keys_(std::move(keys)), calendar_(std::move(calendar)) {
  claimLibraryFiles(folder_);
  createPrivateFolders(folder_ / "frames");

  const fs::path database = databaseURL();
  precreateDatabaseFile(database);
  db_ = SQLiteDB::open(database);
  db_->exec(schemaScript);
  try {
    db_->exec(contentlessIndex);
  } catch (const SQLiteError&) {
    db_->exec(contentIndex);
  }
  fs::permissions(database, fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace);
  checkKeyLocked();
  deletedTermsPending_ = db_->prepare("SELECT 1 FROM info WHERE k = 'purge_pending'").step();
  if (deletedTermsPending_) {
    requestPurgeLocked();
  }
}

FrameLibrary::~FrameLibrary() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  purgeChanged_.notify_all();
  if (purger_.joinable()) {
    purger_.join();
  }
}

void FrameLibrary::checkKey() {
  const std::lock_guard lock(mutex_);
  checkKeyLocked();
}

void FrameLibrary::checkKeyLocked() {
  if (!verifyCheckLocked()) {
    // A new library. Another process may be creating the same one at this moment (a first run
    // of the command line beside the application): whichever writes first wins, and the other
    // checks its key against that one instead of failing or resetting the next identifier.
    const Bytes sealed = keys_.seal(bytesOf(checkPlaintext), sealContext::check);
    inTransaction(*db_, [&] {
      db_->run("INSERT OR IGNORE INTO info(k, v) VALUES('check', ?)", {sealed});
      db_->run("INSERT OR IGNORE INTO info(k, v) VALUES('next_id', ?)", {std::int64_t{1}});
    });
    verifyCheckLocked();
  }
}

bool FrameLibrary::verifyCheckLocked() {
  Statement statement = db_->prepare("SELECT v FROM info WHERE k = 'check'");
  if (!statement.step()) {
    return false;
  }
  Bytes opened;
  try {
    opened = keys_.unseal(statement.columnBlob(0), sealContext::check);
  } catch (const VistrelCryptoError&) {
    throw VistrelCryptoError::wrongKey();
  }
  if (opened != bytesOf(checkPlaintext)) {
    throw VistrelCryptoError::wrongKey();
  }
  return true;
}

std::int64_t FrameLibrary::allocateID() {
  const std::lock_guard lock(mutex_);
  return inTransaction(*db_, [this] { return allocateIDLocked(); });
}

std::int64_t FrameLibrary::allocateIDLocked() {
  std::int64_t candidate = 1;
  {
    Statement statement = db_->prepare("SELECT v FROM info WHERE k = 'next_id'");
    if (statement.step()) {
      candidate = statement.columnInt(0);
    }
  }
  {
    Statement statement = db_->prepare("SELECT IFNULL(MAX(id), 0) FROM frames");
    if (statement.step()) {
      const std::int64_t highest = statement.columnInt(0);
      if (highest == std::numeric_limits<std::int64_t>::max()) {
        throw SQLiteError(13, "no frame identifiers left");
      }
      candidate = std::max(candidate, highest + 1);
    }
  }
  if (candidate == std::numeric_limits<std::int64_t>::max()) {
    throw SQLiteError(13, "no frame identifiers left");
  }
  db_->run("INSERT OR REPLACE INTO info(k, v) VALUES('next_id', ?)", {candidate + 1});
  return candidate;
}

std::string FrameLibrary::dayFolderName(Date date) const {
  const Calendar::Day day = calendar_.day(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
  return text;
}

}  // namespace vistrel
