#pragma once

#include <QObject>
#include <QThreadPool>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Vistrel/model/Clock.h"
#include "Vistrel/model/Hotkeys.h"
#include "Vistrel/model/Job.h"
#include "Vistrel/platform/Clipboard.h"
#include "Vistrel/platform/LoginItem.h"
#include "Vistrel/platform/Probes.h"
#include "Vistrel/platform/RunningApps.h"
#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/DateRange.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/capture/ExclusionRules.h"
#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/keys/KeyStore.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/search/SearchQuery.h"
#include "VistrelKit/settings/VistrelConfig.h"

namespace vistrel {

// The sections of the main window, in order.
enum class Pane { search, timeline, capture, privacy, storage, help };

std::string_view rawValue(Pane pane);

// The frame shown in the frame-detail sheet, with the query whose matches it outlines (empty when
// opened from the timeline).
struct OpenFrame {
  std::int64_t id = 0;
  SearchQuery query;

  friend bool operator==(const OpenFrame&, const OpenFrame&) = default;
};

// What one capture tick did, for the command line and the tests.
struct TickReport {
  enum class Kind {
    skipped,        // a check decided before or after the screenshot; `skip` says why
    captureFailed,  // the screenshot failed; `message` holds the error
    recorded,       // the recorder ran; `outcome` holds its result
  };

  Kind kind = Kind::skipped;
  std::optional<SkipReason> skip;
  std::string message;
  std::optional<Recorder::Outcome> outcome;
  bool screenshotTaken = false;

  // One line: the skip reason's message, "Capture failed: <error>", "Stored frame 12 (3 lines)",
  // "Unchanged" or "Recording failed: <message>".
  std::string describe(const ShortTimeFormatter& shortTime = {}) const;
};

// Makes the recorder for a newly opened library. The default reads text with Tesseract.
using RecorderFactory =
    std::function<std::shared_ptr<Recorder>(std::shared_ptr<FrameLibrary> library, int maxWidth)>;

// Everything the model needs from the platform, behind small interfaces so tests can hand in
// fakes and move time.
struct AppEnvironment {
  std::filesystem::path dataFolder;  // holds config.json and the library
  std::shared_ptr<KeyStore> keyStore;
  std::shared_ptr<Probes> probes;
  std::unique_ptr<HotkeyGrabber> hotkeys;
  std::shared_ptr<Clipboard> clipboard;
  std::shared_ptr<LoginItem> loginItem;
  std::shared_ptr<RunningApps> runningApps;  // null: nothing is known to run
  std::shared_ptr<Clock> clock;              // also gives the calendar of the system's current zone
  RecorderFactory makeRecorder;              // empty: a Recorder with its own text recognizer
  // Times of day in the user's short format (paused until) and standard format with seconds
  // (last change saved). Empty: the system locale's formats.
  ShortTimeFormatter shortTime;
  ShortTimeFormatter standardTime;
  // This application's own ID; its windows are never recorded.
  std::string ownBundleID = "com.tevrin77.Vistrel";
  // Makes this application the active one; empty where there is nothing to activate (headless).
  std::function<void()> activate;
  // False for a run that must leave the settings file alone (the command line's capture).
  bool saveSettings = true;
};

// The one central object of the application: owns the settings, the open frame library and the
// recorder, holds everything the screens show, and runs the background jobs that keep it fresh
// and the capture loop.
//
// Every field is read and written on the thread that created the model (the main thread), and
// each has a change signal that fires only when the value really changes. Library and recorder
// work runs on the model's own worker threads; the results come back to the main thread as
// queued calls and are applied there only if the job was not cancelled and the library it used
// is still the open one. No operation raises: failures end as notices or fields.
class AppModel : public QObject {
  Q_OBJECT

 public:
  static constexpr double searchDelay = 0.22;
  static constexpr double noticeDuration = 8;
  static constexpr double autoCleanupDelay = 1;
  static constexpr double saveDelay = 0.4;
  static constexpr double cleanupPeriod = 600;
  static constexpr std::int64_t searchLimit = 150;

  explicit AppModel(AppEnvironment environment, QObject* parent = nullptr);
  ~AppModel() override;
  AppModel(const AppModel&) = delete;
  AppModel& operator=(const AppModel&) = delete;

  // Fields.
  const VistrelConfig& config() const { return config_; }
  Pane pane() const { return pane_; }
  // Whether a library is open: false before the first open, after a failed one and while the
  // history is being deleted.
  bool isLibraryOpen() const { return library_ != nullptr; }
  const std::optional<std::string>& libraryProblem() const { return libraryProblem_; }
  bool screenRecording() const { return screenRecording_; }
  // Why the screen cannot be read on this desktop; none when it can or nothing more is known.
  const std::optional<std::string>& screenAccessProblem() const { return screenAccessProblem_; }
  bool shortcutRefused() const { return shortcutRefused_; }
  // No global hot key can be had on this desktop at all (no X display, or no such key).
  bool hotkeysUnavailable() const { return hotkeysUnavailable_; }
  const LibraryStats& stats() const { return stats_; }
  const std::vector<AppEntry>& apps() const { return apps_; }
  const std::optional<std::string>& lastNotice() const { return lastNotice_; }
  const std::string& searchText() const { return searchText_; }
  const std::optional<Bytes>& appFilter() const { return appFilter_; }
  DateRange range() const { return range_; }
  const std::vector<FrameSummary>& hits() const { return hits_; }
  const SearchQuery& searchedQuery() const { return searchedQuery_; }
  const std::optional<OpenFrame>& openFrame() const { return openFrame_; }
  Date timelineDay() const { return timelineDay_; }
  const std::vector<FrameStamp>& timelineStamps() const { return timelineStamps_; }
  int timelineIndex() const { return timelineIndex_; }

  // Assignments the screens make; each runs its reactions only when the value differs.
  void setConfig(VistrelConfig config);
  void setPane(Pane pane);
  void setSearchText(std::string text);
  void setAppFilter(std::optional<Bytes> tag);
  void setRange(DateRange range);
  void setOpenFrame(std::optional<OpenFrame> frame);
  void setTimelineDay(Date day);
  void setTimelineIndex(int index);

  // Shows `pane` in the main window: sets the pane, opens (or brings forward) the main window when
  // the window layer has installed its opener, and activates the application. Before the window
  // layer exists only the activation happens.
  void showMainWindow(Pane pane);
  // Stores the process-wide action that opens the main window; the window layer installs it when
  // it first exists, and an empty function removes it again. Main thread only.
  static void installOpenMainWindow(std::function<void()> open);

  // Derived values.
  std::string statusLine() const;
  bool isRecording() const;
  std::string menuBarSymbol() const;
  bool isPaused() const;

  // While the shortcut recorder listens, the global hot key is let go so that pressing the
  // current combination reaches the recorder; resuming grabs the configured one again.
  void suspendShortcut();
  void resumeShortcut();

  // Start-up and shut-down.
  void start();
  void shutdown();

  // Searching, the timeline, cleaning up and saving.
  void runSearch(bool immediate);
  void loadTimeline(bool keepPosition);
  void cleanUpNow();
  void saveNow();
  // A frame's summary for the query, and its decoded image, for the screen `context`. Always
  // answered later on the main thread, never inside the call: none when no library is open, the
  // call fails, (for the image) the bytes do not decode, or the library was closed, deleted or
  // reopened meanwhile. A newer request of the same kind from the same context cancels the older
  // one, and a context that is destroyed cancels its requests; a cancelled request's `done`
  // never runs.
  void loadSummary(std::int64_t id, SearchQuery query, QObject* context,
                   std::function<void(std::optional<FrameSummary>)> done);
  void loadImage(std::int64_t id, QObject* context, std::function<void(std::optional<Image>)> done);

  // Pausing. Minutes, or none for "until resumed".
  void pause(std::optional<double> minutes);
  void pauseUntilTomorrow();
  void resume();

  // User actions.
  // Minutes, or none for "today".
  void deleteRecent(std::optional<double> minutes);
  void deleteFrame(std::int64_t id);
  void copyText(const FrameSummary& summary);
  void copyImage(const Image& image);
  void excludeApp(const std::string& bundleID, const std::string& name);
  void setOpenAtLogin(bool on);
  // Asks the desktop each time: the login item may change outside the application.
  bool isOpenAtLogin() const;
  // The running regular applications the user may exclude: not this one and not already
  // excluded (IDs compared ignoring letter case), each once, ordered by name.
  std::vector<RunningApp> appsToExclude() const;
  void deleteEverything();
  void showInTimeline(const FrameSummary& summary);

  // Where the history's key is kept: the key file the key store reads (and whether that is
  // because no keyring exists), or otherwise the keyring. May change when a library is created
  // or the history deleted (libraryChanged).
  texts::KeyPlace keyPlace() const;
  // The key file's path when the key is kept in one.
  std::optional<std::filesystem::path> keyFile() const;

  const std::filesystem::path& dataFolder() const { return env_.dataFolder; }
  // The clock the model's jobs wait on and the calendar its days follow, for screens whose own
  // delays and hours must agree with the model's. The calendar is the system's current zone's: a
  // change of zone is noticed here and at every capture tick, and announced by calendarChanged
  // (after which the model has reloaded what depends on the day).
  const std::shared_ptr<Clock>& clock() const { return env_.clock; }
  Calendar calendar();

 Q_SIGNALS:
  void configChanged();
  void paneChanged();
  void libraryChanged();
  void libraryProblemChanged();
  void screenRecordingChanged();
  void screenAccessProblemChanged();
  void skipChanged();
  void lastFrameAtChanged();
  void captureErrorChanged();
  void shortcutRefusedChanged();
  void hotkeysUnavailableChanged();
  void statsChanged();
  void appsChanged();
  void lastNoticeChanged();
  void searchTextChanged();
  void appFilterChanged();
  void rangeChanged();
  void hitsChanged();
  void searchedQueryChanged();
  void openFrameChanged();
  void timelineDayChanged();
  void timelineStampsChanged();
  void timelineIndexChanged();
  void calendarChanged();
  // Derived values that changed with one of the fields above.
  void statusLineChanged();
  void isRecordingChanged();
  void menuBarSymbolChanged();
  // Events: a search applied its result; a cleanup ran (automatic or manual); a tick finished.
  void searchFinished();
  void cleanupFinished(qint64 removed);
  void tickFinished(const vistrel::TickReport& report);

 private:
  // Tests reach the internal steps below through this seam, never through the screens' surface.
  friend struct AppModelTestAccess;

  // What the status line is made of; the screens read statusLine.
  const std::optional<SkipReason>& skip() const { return skip_; }
  const std::optional<Date>& lastFrameAt() const { return lastFrameAt_; }
  const std::optional<std::string>& captureError() const { return captureError_; }

  bool openLibrary(bool create);
  void applyShortcut();
  void refreshStats();
  void showNotice(std::string text);
  void scheduleAutoCleanup();
  void scheduleSave();
  std::filesystem::path configFile() const;
  void captureEnabledChanged();

  // The capture loop.
  void startLoop();
  void stopLoop();
  // One capture attempt; `done` runs on the main thread when it has finished.
  void tick(std::function<void(const TickReport&)> done = {});
  void togglePause();

  // The screens' frame loads: at most one of each kind per context.
  enum class LoadKind { summary, image };
  struct ContextLoads {
    JobHandle summary;
    JobHandle image;
    QMetaObject::Connection destroyed;
  };
  // Starts a load for `context`, cancelling its older one of the same kind.
  JobHandle beginLoad(QObject* context, LoadKind kind);
  void endLoad(QObject* context, LoadKind kind, const JobHandle& job);
  template <typename Value>
  void loadForScreen(QObject* context, LoadKind kind,
                     std::function<std::optional<Value>(FrameLibrary&)> work,
                     std::function<void(std::optional<Value>)> done);

  // Runs `work` on a worker thread and `apply` with its result on the main thread. The work
  // drops everything it captured before the result travels back, so once the pool is idle no
  // worker holds the library.
  template <typename Result>
  void inBackground(std::function<Result()> work, std::function<void(Result)> apply);
  // Runs `action` after `seconds` unless `job` was cancelled by then.
  void afterDelay(const JobHandle& job, double seconds, std::function<void()> action);

  void setLibraryProblem(std::optional<std::string> problem);
  // Tells what became of a key file found at start-up (moved into the keyring, or why not).
  void noticeKeyMove();
  void setScreenRecording(bool granted);
  // Reads the screen access from the probes into screenRecording and screenAccessProblem.
  bool refreshScreenAccess();
  void setSkip(std::optional<SkipReason> skip);
  void setLastFrameAt(std::optional<Date> date);
  void setCaptureError(std::optional<std::string> error);
  void setShortcutRefused(bool refused);
  void setStats(LibraryStats stats);
  void setApps(std::vector<AppEntry> apps);
  void setLastNotice(std::optional<std::string> notice);
  void setHits(std::vector<FrameSummary> hits);
  void setSearchedQuery(SearchQuery query);
  void setTimelineStamps(std::vector<FrameStamp> stamps);
  void installLibrary(std::shared_ptr<FrameLibrary> library);
  void updateDerived();
  std::string formatShort(Date date) const;
  std::string formatStandard(Date date) const;

  void loopStep(const JobHandle& loop);
  void finishTick(const TickReport& report, const std::function<void(const TickReport&)>& done);
  void tickAfterScreenshot(Date now, std::optional<FrontWindow> front, ExclusionRules rules,
                           std::shared_ptr<const Screenshot> screenshot,
                           std::optional<std::string> error,
                           std::function<void(const TickReport&)> done);
  void tickCleanupCheck();
  void schedulePauseEnd();
  void resetRecorderInBackground();
  void refreshAfterDeletion();
  void zoneChanged();
  void runCleanup(bool automatic);

  AppEnvironment env_;
  Hotkeys* hotkeys_ = nullptr;  // child of the model

  VistrelConfig config_;
  // The settings as read from a file that held something the reading could not keep; while the
  // settings are still these, nothing is saved over that file.
  std::optional<VistrelConfig> inexactSettings_;
  Pane pane_ = Pane::search;
  std::shared_ptr<FrameLibrary> library_;
  std::shared_ptr<Recorder> recorder_;
  std::optional<std::string> libraryProblem_;
  bool screenRecording_ = false;
  std::optional<std::string> screenAccessProblem_;
  std::optional<SkipReason> skip_;
  std::optional<Date> lastFrameAt_;
  std::optional<std::string> captureError_;
  bool shortcutRefused_ = false;
  bool hotkeysUnavailable_ = false;
  LibraryStats stats_;
  std::vector<AppEntry> apps_;
  std::optional<std::string> lastNotice_;
  std::string searchText_;
  std::optional<Bytes> appFilter_;
  DateRange range_ = DateRange::all;
  std::vector<FrameSummary> hits_;
  SearchQuery searchedQuery_;
  std::optional<OpenFrame> openFrame_;
  Date timelineDay_;
  std::vector<FrameStamp> timelineStamps_;
  int timelineIndex_ = 0;
  JobHandle saveTask_;
  JobHandle loopTask_;
  JobHandle searchTask_;
  JobHandle noticeTask_;
  JobHandle cleanupTask_;
  JobHandle pauseEndTask_;
  Date lastCleanup_;

  std::string statusLine_;
  bool isRecording_ = false;
  std::string menuBarSymbol_;

  // Counts the libraries installed, so a result read from an earlier one is never applied.
  std::uint64_t libraryGeneration_ = 0;
  int pendingJobs_ = 0;
  // Numbers the timeline and statistics requests, so that only the newest answer is applied.
  std::uint64_t timelineRequest_ = 0;
  std::uint64_t statsRequest_ = 0;
  // The frame showInTimeline asked for, selected by the next timeline answer that has it.
  std::optional<std::int64_t> timelineFocus_;
  std::map<const QObject*, ContextLoads> loads_;
  // The time zone the model's days followed last.
  std::string zoneID_;
  // True from deleteEverything until its files are gone; no library opens meanwhile.
  bool destroying_ = false;
  QThreadPool pool_;  // last member: destroyed (and drained) first
};

}  // namespace vistrel

#include <QMetaObject>

namespace vistrel {

template <typename Result>
void AppModel::inBackground(std::function<Result()> work, std::function<void(Result)> apply) {
  ++pendingJobs_;
  auto task = std::make_shared<std::function<Result()>>(std::move(work));
  auto finish = std::make_shared<std::function<void(Result)>>(std::move(apply));
  pool_.start([this, task, finish] {
    auto result = std::make_shared<Result>();
    try {
      *result = (*task)();
    } catch (...) {
      // Every job reads a default result as "failed".
    }
    // Drops the library and recorder references the work held, here on the worker.
    *task = nullptr;
    QMetaObject::invokeMethod(
        this,
        [this, finish, result] {
          --pendingJobs_;
          (*finish)(std::move(*result));
        },
        Qt::QueuedConnection);
  });
}

}  // namespace vistrel
