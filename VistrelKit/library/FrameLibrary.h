#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"
#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/keys/KeyStore.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/library/RetentionPolicy.h"
#include "VistrelKit/search/SearchQuery.h"

namespace vistrel {

class SQLiteDB;
class Statement;

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
  // exist yet; an existing database without a key in the store raises the store's noKeyError()
  // (VistrelCryptoError::wrongKey, or unreachable when the store could not look everywhere).
  // Raises the key store's errors, the file system's errors
  // (std::filesystem::filesystem_error), SQLiteError and VistrelCryptoError::wrongKey.
  static std::shared_ptr<FrameLibrary> open(const std::filesystem::path& folder, KeyStore& keyStore,
                                            bool create, Calendar calendar);

  // Deletes a whole library: the database with its -wal and -shm files, the frames folder and the
  // key in the store. Goes on past each failure and returns what could not be removed, one text
  // per failure naming the file or the key and the reason; empty when everything is gone. No
  // library of the folder may be open meanwhile, or its connection would write into the next.
  static std::vector<std::string> destroy(const std::filesystem::path& folder, KeyStore& keyStore);

  // Opens or creates the library with working keys already in hand: creates "frames/" (0700),
  // sets the folder to 0700, opens the database, lays down the schema, sets the database file
  // to 0600 and checks the key. Whatever was done before a failure stays on disk.
  FrameLibrary(std::filesystem::path folder, FrameKeys keys, Calendar calendar);
  // Waits for the purge's current slice, not for the whole purge: what is left is finished by
  // the next open.
  ~FrameLibrary();
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

  // Seals and stores a frame (image file, rows, index tokens) in one transaction and returns its
  // identifier. On failure nothing stays behind, not even the image file, and the identifier is
  // handed out again by the next store. Raises SQLiteError, VistrelCryptoError::damaged, the
  // file system's errors and the JSON encoder's errors.
  std::int64_t store(const NewFrame& frame);

  // Deletes the frames (rows in one transaction, then their files, emptied day folders and free
  // pages, and then the write-ahead log, which still holds the deleted pages' old versions) and
  // returns how many existed. Unknown and repeated identifiers are not counted. Only SQLiteError
  // is raised, and then nothing was deleted.
  std::int64_t remove(const std::vector<std::int64_t>& ids);
  // Deletes every frame with start <= date < end.
  std::int64_t deleteRange(Date start, Date end);

  // Frames matching the query (every candidate verified against its decrypted text), newest
  // first, at most limit of them. Frames whose metadata does not open are left out.
  std::vector<FrameSummary> search(const SearchQuery& query, const std::optional<Bytes>& appTag,
                                   std::optional<Date> start, std::optional<Date> end,
                                   std::int64_t limit);
  // One frame with the lines matching the query; nothing when there is no such frame. Raises
  // VistrelCryptoError::damaged or RecordDecodingError when the frame does not open.
  std::optional<FrameSummary> summary(std::int64_t id, const SearchQuery& query);
  // Opens a frame's sealed metadata. Raises VistrelCryptoError::damaged or RecordDecodingError.
  FrameMeta decodeMeta(const Bytes& sealed, std::int64_t id) const;
  // The frame's JPEG; nothing when there is no such frame. Raises the file system's errors and
  // VistrelCryptoError::damaged.
  std::optional<Bytes> image(std::int64_t id);

  // Stamps with start <= date < end, by date, then identifier.
  std::vector<FrameStamp> stamps(Date start, Date end);
  // The stamps of the calendar day containing the date.
  std::vector<FrameStamp> dayStamps(Date date);
  std::vector<FrameStamp> allStamps();
  // Applications that have frames, most frames first; records that do not open are left out.
  std::vector<AppEntry> apps();
  LibraryStats stats(Date now);

  // Deletes the frames past the retention period and then the oldest until the cap is met;
  // returns how many were deleted. The first cleanup of each opened library also removes stray
  // frame files (removeStrayFiles); its failures are ignored there.
  std::int64_t cleanup(const RetentionPolicy& policy, Date now);

  // Whether deleted frames' terms may still be in the text index. A deletion returns as soon as
  // the frames, their files and their index entries are gone; the terms themselves leave the
  // index in the background, a short slice at a time, and a purge cut short (a crash, a close)
  // is taken up again when the library is next opened.
  bool purgePending() const;
  // Blocks until no purge is pending or the purge failed (then it stays pending for the next
  // deletion or open); returns whether none is pending.
  bool waitForPurge();
  // How many index pages one slice of the purge rewrites at most (32 unless set): smaller
  // slices hold the library for less time each and make the purge take longer. At 100,000
  // frames 32 keeps a search waiting under 100 ms and still purges within a minute.
  void setPurgeSlicePages(int pages);
  // Removes frame files that no row names, left by a process that died between writing a frame
  // file and committing its row, or between committing a deletion and removing the files (also
  // unfinished temporary files of such writes), then day folders left empty. Only files named
  // "<id>.vsf" or "<id>.vsf.<suffix>" inside a day folder are considered, and only for
  // identifiers below the next one to be handed out, so a store in flight in another process is
  // never touched. Returns the number of files removed. Raises SQLiteError.
  std::int64_t removeStrayFiles();
  // Copies the write-ahead log into the database and truncates the log.
  void checkpoint();

 private:
  // The absolute path of a frame file named in the database, or nothing when the name does not
  // have the shape "frames/<day>/<file>": a damaged or planted row must never make the library
  // read or delete anything outside a day folder.
  std::optional<std::filesystem::path> frameFile(const std::string& relative) const;
  // Deletes the frames, their index entries and files, and marks the index for purging. The
  // purge starts at once unless cleanupTime is given: a retention cleanup starts one at most
  // once a day by that clock. REQUIRES: mutex_ held.
  std::int64_t removeLocked(const std::vector<std::int64_t>& ids,
                            std::optional<Date> cleanupTime = std::nullopt);
  // REQUIRES: mutex_ held.
  std::vector<FrameStamp> stampsLocked(Date start, Date end);

  // A search candidate: read from the database on the searching thread, then verified on any.
  struct Candidate {
    std::int64_t id = 0;
    Date date;
    Bytes sealedMeta;
    std::optional<FrameSummary> summary;  // set by verify when the frame opens and matches
  };
  // Opens the candidate's metadata and checks it against the query; frames that do not open are
  // left out. Touches only the candidate and the keys, so candidates can be verified at once.
  void verify(Candidate& candidate, const SearchQuery& query) const;
  // The frame's thumbnail, or none when it is gone or does not open. REQUIRES: mutex_ held.
  Bytes openThumbnail(Statement& thumbs, std::int64_t id) const;
  // REQUIRES: mutex_ held.
  std::int64_t removeStrayFilesLocked();
  // Moves the write-ahead log into the database and empties it, so that no earlier version of a
  // page freed by a deletion survives. Failure is ignored. REQUIRES: mutex_ held.
  void forgetDeletedPages();
  // Starts the background purge of deleted frames' terms. REQUIRES: mutex_ held.
  void requestPurgeLocked();
  // The purging thread: merges the text index a slice at a time, letting searches and stores
  // in between, until it is one segment.
  void purgeLoop();
  enum class PurgeStep { more, finished, failed };
  // REQUIRES: mutex_ held.
  PurgeStep purgeSliceLocked();

  // REQUIRES: mutex_ held (or the object still under construction).
  void checkKeyLocked();
  // Whether the check row exists; raises wrongKey when it does not open with these keys.
  // REQUIRES: mutex_ held (or the object still under construction).
  bool verifyCheckLocked();
  // REQUIRES: mutex_ held, inside a write transaction.
  std::int64_t allocateIDLocked();

  const std::filesystem::path folder_;
  const FrameKeys keys_;
  const Calendar calendar_;
  mutable std::mutex mutex_;
  std::shared_ptr<SQLiteDB> db_;    // set once by the constructor; guarded by mutex_ afterwards
  bool strayFilesChecked_ = false;  // guarded by mutex_
  // Deleted frames whose terms may still be in the index, and when a cleanup last purged them
  // (by the cleanup's own clock). Guarded by mutex_.
  bool deletedTermsPending_ = false;
  std::optional<Date> lastCleanupPurge_;
  // The purging thread's state; guarded by mutex_.
  bool purgeRunning_ = false;
  int purgeSlicePages_ = 32;
  bool closing_ = false;
  std::condition_variable purgeChanged_;
  std::thread purger_;
};

}  // namespace vistrel
