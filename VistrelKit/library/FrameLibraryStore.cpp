#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/Retention.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "VistrelKit/library/Transaction.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {

namespace fs = std::filesystem;

namespace {

constexpr Seconds cleanupPurgeInterval{24 * 60 * 60};

// Whether a retention cleanup at `now` should purge deleted frames' terms from the index; a
// clock that went back counts as due.
bool cleanupPurgeDue(const std::optional<Date>& last, Date now) {
  return !last || now < *last || now - *last >= cleanupPurgeInterval;
}

// The frame's index terms as sorted, space-separated keyed tokens.
std::string tokenList(const FrameKeys& keys, const FrameMeta& meta) {
  std::set<std::string> tokens;
  for (const std::string& term : TextIndex::indexTerms(meta.indexText())) {
    tokens.insert(keys.token(term));
  }
  std::string list;
  for (const std::string& token : tokens) {
    if (!list.empty()) {
      list += ' ';
    }
    list += token;
  }
  return list;
}

// Removes the frame file written by a store that did not commit, unless the commit went through.
class UncommittedFile {
 public:
  explicit UncommittedFile(fs::path file) : file_(std::move(file)) {}
  UncommittedFile(const UncommittedFile&) = delete;
  UncommittedFile& operator=(const UncommittedFile&) = delete;
  ~UncommittedFile() {
    if (!committed_) {
      std::error_code ignored;
      fs::remove(file_, ignored);
    }
  }
  void commit() { committed_ = true; }

 private:
  fs::path file_;
  bool committed_ = false;
};

// The identifier in a frame file's name, "<id>.vsf", or in the name of a temporary file of its
// atomic write, "<id>.vsf.<suffix>"; nothing for any other name.
std::optional<std::int64_t> frameFileID(const std::string& name) {
  std::size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') {
    ++digits;
  }
  if (digits == 0 || digits > 18 || name[0] == '0') {
    return std::nullopt;
  }
  const std::string_view rest = std::string_view(name).substr(digits);
  if (rest != ".vsf" && !(rest.size() > 5 && rest.substr(0, 5) == ".vsf.")) {
    return std::nullopt;
  }
  return std::stoll(name.substr(0, digits));
}

}  // namespace

std::optional<fs::path> FrameLibrary::frameFile(const std::string& relative) const {
  const fs::path path(relative);
  std::vector<fs::path> parts(path.begin(), path.end());
  if (path.is_absolute() || parts.size() != 3 || parts[0] != "frames") {
    return std::nullopt;
  }
  for (const fs::path& part : {parts[1], parts[2]}) {
    if (part.empty() || part == "." || part == "..") {
      return std::nullopt;
    }
  }
  return folder_ / path;
}

std::int64_t FrameLibrary::store(const NewFrame& frame) {
  const std::lock_guard lock(mutex_);
  std::optional<UncommittedFile> written;
  const std::int64_t id = inTransaction(*db_, [&] {
    const std::int64_t id = allocateIDLocked();
    const std::string json = frame.meta.encode();
    const Bytes sealedMeta = keys_.seal(bytesOf(json), sealContext::frameMeta(id));
    const Bytes sealedThumb = keys_.seal(frame.thumbnail, sealContext::frameThumb(id));
    const Bytes sealedImage = keys_.seal(frame.jpeg, sealContext::frameImage(id));
    const std::string day = dayFolderName(frame.date);
    const std::string relative = "frames/" + day + "/" + std::to_string(id) + ".vsf";
    const fs::path file = folder_ / relative;
    createPrivateFolders(file.parent_path());
    written.emplace(file);
    writeFileAtomically(file, sealedImage);

    const std::string appKey = frame.meta.bundleID ? *frame.meta.bundleID : frame.meta.appName;
    const Bytes tag = keys_.tag(appKey);
    const AppRecord record{frame.meta.appName, frame.meta.bundleID};
    const Bytes sealedApp = keys_.seal(bytesOf(record.encode()), sealContext::app(tag));
    db_->run("INSERT OR IGNORE INTO apps(tag, meta) VALUES(?, ?)", {tag, sealedApp});

    const std::string tokens = tokenList(keys_, frame.meta);
    const auto estimate = static_cast<std::int64_t>(sealedMeta.size() + sealedThumb.size() +
                                                    sealedImage.size() + tokens.size() / 2);
    db_->run(
        "INSERT INTO frames(id, ts, app_tag, bytes, meta, thumb, file) VALUES(?, ?, ?, ?, ?, ?, ?)",
        {id, secondsSince1970(frame.date), tag, estimate, sealedMeta, sealedThumb, relative});
    db_->run("INSERT INTO frame_index(rowid, terms) VALUES(?, ?)", {id, tokens});
    return id;
  });
  if (written) {
    written->commit();
  }
  return id;
}

std::int64_t FrameLibrary::remove(const std::vector<std::int64_t>& ids) {
  const std::lock_guard lock(mutex_);
  return removeLocked(ids);
}

std::int64_t FrameLibrary::removeLocked(const std::vector<std::int64_t>& ids,
                                        std::optional<Date> cleanupTime) {
  if (ids.empty() && !deletedTermsPending_) {
    return 0;
  }
  std::vector<std::string> files;
  const std::int64_t count = ids.empty() ? 0 : inTransaction(*db_, [&] {
    std::int64_t deleted = 0;
    Statement select = db_->prepare("SELECT file FROM frames WHERE id = ?");
    for (const std::int64_t id : ids) {
      select.bind({id});
      if (!select.step()) {
        continue;
      }
      files.push_back(select.columnText(0));
      db_->run("DELETE FROM frames WHERE id = ?", {id});
      db_->run("DELETE FROM frame_index WHERE rowid = ?", {id});
      ++deleted;
    }
    db_->run("DELETE FROM apps WHERE tag NOT IN (SELECT DISTINCT app_tag FROM frames)");
    if (deleted > 0) {
      // With the deletion, so that a purge cut short by a crash is finished at the next open.
      db_->run("INSERT OR REPLACE INTO info(k, v) VALUES('purge_pending', 1)");
    }
    return deleted;
  });

  std::set<fs::path> folders;
  for (const std::string& relative : files) {
    const std::optional<fs::path> file = frameFile(relative);
    if (!file) {
      continue;
    }
    std::error_code ignored;
    fs::remove(*file, ignored);
    folders.insert(file->parent_path());
  }
  for (const fs::path& folder : folders) {
    std::error_code error;
    const fs::directory_iterator entries(folder, error);
    if (!error && entries == fs::directory_iterator()) {
      fs::remove(folder, error);
    }
  }
  deletedTermsPending_ = deletedTermsPending_ || count > 0;
  if (deletedTermsPending_ && (!cleanupTime || cleanupPurgeDue(lastCleanupPurge_, *cleanupTime))) {
    requestPurgeLocked();
    if (cleanupTime) {
      lastCleanupPurge_ = cleanupTime;
    }
  }
  if (count > 0) {
    try {
      db_->exec("PRAGMA incremental_vacuum");
    } catch (const SQLiteError&) {
      // The frames are gone; the free pages are returned by a later deletion.
    }
    forgetDeletedPages();
  }
  return count;
}

bool FrameLibrary::purgePending() const {
  const std::lock_guard lock(mutex_);
  return deletedTermsPending_;
}

bool FrameLibrary::waitForPurge() {
  std::unique_lock lock(mutex_);
  purgeChanged_.wait(lock, [this] { return !purgeRunning_ || closing_; });
  return !deletedTermsPending_;
}

void FrameLibrary::setPurgeSlicePages(int pages) {
  const std::lock_guard lock(mutex_);
  purgeSlicePages_ = std::max(pages, 1);
}

void FrameLibrary::requestPurgeLocked() {
  if (purgeRunning_ || closing_) {
    return;
  }
  purgeRunning_ = true;
  if (!purger_.joinable()) {
    purger_ = std::thread(&FrameLibrary::purgeLoop, this);
  } else {
    purgeChanged_.notify_all();
  }
}

void FrameLibrary::purgeLoop() {
  // Short enough that a search or store waiting for the library is not held up noticeably.
  constexpr auto pause = std::chrono::milliseconds(5);
  std::unique_lock lock(mutex_);
  while (true) {
    purgeChanged_.wait(lock, [this] { return closing_ || purgeRunning_; });
    if (closing_) {
      return;
    }
    if (purgeSliceLocked() != PurgeStep::more) {
      purgeRunning_ = false;
      purgeChanged_.notify_all();
      continue;
    }
    lock.unlock();
    std::this_thread::sleep_for(pause);
    lock.lock();
  }
}

FrameLibrary::PurgeStep FrameLibrary::purgeSliceLocked() {
  // Before SQLite 3.42 a deletion only adds entries that cancel the frame's terms; the terms
  // themselves stay in the older index segments, readable to anyone holding the key, until those
  // segments are merged with the cancelling ones. A negative "merge" merges every segment into
  // one like "optimize", but stops after about that many pages, so the whole index is never
  // rewritten in one go; it is done when a step changes (almost) nothing.
  try {
    const sqlite3_int64 before = sqlite3_total_changes64(db_->handle());
    db_->exec("INSERT INTO frame_index(frame_index, rank) VALUES('merge', -" +
              std::to_string(purgeSlicePages_) + ")");
    if (sqlite3_total_changes64(db_->handle()) - before >= 2) {
      return PurgeStep::more;
    }
    db_->run("DELETE FROM info WHERE k = 'purge_pending'");
  } catch (const SQLiteError&) {
    return PurgeStep::failed;  // Still pending: the next deletion, cleanup or open tries again.
  }
  deletedTermsPending_ = false;
  try {
    db_->exec("PRAGMA incremental_vacuum");
  } catch (const SQLiteError&) {
  }
  forgetDeletedPages();
  return PurgeStep::finished;
}

std::int64_t FrameLibrary::deleteRange(Date start, Date end) {
  const std::lock_guard lock(mutex_);
  std::vector<std::int64_t> ids;
  for (const FrameStamp& stamp : stampsLocked(start, end)) {
    ids.push_back(stamp.id);
  }
  return removeLocked(ids);
}

std::int64_t FrameLibrary::cleanup(const RetentionPolicy& policy, Date now) {
  const std::lock_guard lock(mutex_);
  const std::vector<std::int64_t> selected =
      Retention::select(stampsLocked(Date::min(), Date::max()), policy, now);
  const std::int64_t deleted = removeLocked(selected, now);
  if (!strayFilesChecked_) {
    // Stray files only come from a process that died in the middle of a store or a deletion, so
    // looking once per opened library is enough.
    strayFilesChecked_ = true;
    try {
      removeStrayFilesLocked();
    } catch (const SQLiteError&) {
      strayFilesChecked_ = false;
    }
  }
  return deleted;
}

std::int64_t FrameLibrary::removeStrayFiles() {
  const std::lock_guard lock(mutex_);
  return removeStrayFilesLocked();
}

std::int64_t FrameLibrary::removeStrayFilesLocked() {
  // One read transaction, so the names and the next identifier come from the same moment: any
  // store that had not committed by then uses an identifier at or above nextID.
  std::set<std::string> named;
  std::int64_t nextID = 1;
  db_->exec("BEGIN");
  try {
    {
      Statement statement = db_->prepare("SELECT file FROM frames");
      while (statement.step()) {
        named.insert(statement.columnText(0));
      }
    }
    {
      Statement statement = db_->prepare(
          "SELECT MAX(IFNULL((SELECT v FROM info WHERE k = 'next_id'), 1), "
          "IFNULL((SELECT MAX(id) FROM frames), 0) + 1)");
      if (statement.step()) {
        nextID = statement.columnInt(0);
      }
    }
    db_->exec("COMMIT");
  } catch (...) {
    try {
      db_->exec("ROLLBACK");
    } catch (...) {
    }
    throw;
  }

  std::int64_t removed = 0;
  const fs::directory_iterator end;
  std::error_code error;
  for (fs::directory_iterator day(folder_ / "frames", error); !error && day != end;
       day.increment(error)) {
    std::error_code kindError;
    if (day->is_symlink(kindError) || !day->is_directory(kindError)) {
      continue;
    }
    const std::string dayName = day->path().filename().string();
    std::vector<fs::path> stray;
    std::error_code listError;
    for (fs::directory_iterator entry(day->path(), listError); !listError && entry != end;
         entry.increment(listError)) {
      const std::string name = entry->path().filename().string();
      const std::optional<std::int64_t> id = frameFileID(name);
      if (!id || *id >= nextID || named.contains("frames/" + dayName + "/" + name)) {
        continue;
      }
      if (!entry->is_symlink(kindError) && entry->is_regular_file(kindError)) {
        stray.push_back(entry->path());
      }
    }
    for (const fs::path& file : stray) {
      std::error_code ignored;
      if (fs::remove(file, ignored)) {
        ++removed;
      }
    }
    if (!listError && fs::is_empty(day->path(), listError) && !listError) {
      std::error_code ignored;
      fs::remove(day->path(), ignored);
    }
  }
  return removed;
}

void FrameLibrary::forgetDeletedPages() {
  // Secure delete zeroes the freed pages, but only in new log frames: the old versions of those
  // pages, with the deleted frames' sealed metadata and thumbnails, stay in the write-ahead log
  // (and in the database file until the next checkpoint). Copying the log into the database and
  // truncating it leaves only the zeroed pages behind. Busy readers of another connection make
  // it fail; then the next deletion, or the last connection's close, does it.
  try {
    db_->exec("PRAGMA wal_checkpoint(TRUNCATE)");
  } catch (const SQLiteError&) {
  }
}

void FrameLibrary::checkpoint() {
  const std::lock_guard lock(mutex_);
  db_->exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace vistrel
