#include "Vistrel/model/AppModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "VistrelKit/base/Texts.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/PlatformKeyStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "VistrelKit/settings/ConfigFile.h"

namespace vistrel {
namespace {

// The platform's distant past: the first instant of the year 1.
constexpr Date distantPast{Seconds(-63114076800.0 + referenceDate2001)};

// Assigns and reports whether the value changed.
template <typename T>
bool assign(T& field, T value) {
  if (field == value)
    return false;
  field = std::move(value);
  return true;
}

QTime localTime(Date date) {
  const double milliseconds = std::floor(secondsSince1970(date) * 1000);
  return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds)).time();
}

std::string countText(std::int64_t n, const char* one, const char* many) {
  return std::string(n == 1 ? one : many);
}

}  // namespace

std::string_view rawValue(Pane pane) {
  switch (pane) {
    case Pane::search:
      return "search";
    case Pane::timeline:
      return "timeline";
    case Pane::capture:
      return "capture";
    case Pane::privacy:
      return "privacy";
    case Pane::storage:
      return "storage";
    case Pane::help:
      return "help";
  }
  return "search";
}

std::string TickReport::describe(const ShortTimeFormatter& shortTime) const {
  switch (kind) {
    case Kind::skipped:
      return skip ? skip->message(shortTime) : std::string("Nothing to record");
    case Kind::captureFailed:
      return "Capture failed: " + message;
    case Kind::recorded:
      break;
  }
  if (!outcome)
    return "Recorded";
  if (const auto* stored = std::get_if<Recorder::Stored>(&*outcome))
    return "Stored frame " + std::to_string(stored->id) + " (" + std::to_string(stored->lines) +
           (stored->lines == 1 ? " line)" : " lines)");
  if (const auto* failed = std::get_if<Recorder::Failed>(&*outcome))
    return "Recording failed: " + failed->message;
  return "Unchanged";
}

AppModel::AppModel(AppEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
  if (!env_.clock)
    env_.clock = std::make_shared<SystemClock>();
  if (!env_.clipboard)
    env_.clipboard = std::make_shared<UnavailableClipboard>();
  if (!env_.makeRecorder) {
    env_.makeRecorder = [](std::shared_ptr<FrameLibrary> library, int maxWidth) {
      return std::make_shared<Recorder>(std::move(library), maxWidth);
    };
  }
  hotkeys_ = new Hotkeys(std::move(env_.hotkeys), this);
  // The settings are saved and the key grab released however the application ends its loop.
  if (QCoreApplication* application = QCoreApplication::instance())
    connect(application, &QCoreApplication::aboutToQuit, this, &AppModel::shutdown);
  timelineDay_ = env_.clock->now();
  zoneID_ = env_.clock->calendar().zoneID();
  lastCleanup_ = distantPast;
  searchedQuery_ = SearchQuery::parse("");
  pool_.setMaxThreadCount(4);
  statusLine_ = statusLine();
  isRecording_ = isRecording();
  menuBarSymbol_ = menuBarSymbol();
}

AppModel::~AppModel() {
  for (JobHandle* job :
       {&saveTask_, &loopTask_, &searchTask_, &noticeTask_, &cleanupTask_, &pauseEndTask_})
    cancel(*job);
  pool_.waitForDone();
}

texts::KeyPlace AppModel::keyPlace() const {
  if (!keyFile())
    return texts::KeyPlace::keyring;
  const auto* platform = dynamic_cast<const PlatformKeyStore*>(env_.keyStore.get());
  return platform != nullptr && platform->keptWithoutKeyring()
             ? texts::KeyPlace::keyFileWithoutKeyring
             : texts::KeyPlace::keyFile;
}

std::optional<std::filesystem::path> AppModel::keyFile() const {
  if (const auto* platform = dynamic_cast<const PlatformKeyStore*>(env_.keyStore.get()))
    return platform->keyFile();
  if (const auto* file = dynamic_cast<const KeyFileStore*>(env_.keyStore.get()))
    return file->path();
  return std::nullopt;
}

void AppModel::noticeKeyMove() {
  const auto* platform = dynamic_cast<const PlatformKeyStore*>(env_.keyStore.get());
  if (platform == nullptr)
    return;
  const KeyMoveReport report = platform->moveReport();
  const std::string file = report.keyFile.string();
  switch (report.outcome) {
    case KeyMoveReport::Outcome::none:
      return;
    case KeyMoveReport::Outcome::moved:
      showNotice(texts::keyMovedToKeyringNotice());
      return;
    case KeyMoveReport::Outcome::keptBoth:
      showNotice(texts::keyKeptBesideKeyringNotice(file));
      return;
    case KeyMoveReport::Outcome::failed:
      showNotice(texts::keyMoveFailedNotice(file, report.status));
      return;
  }
}

std::filesystem::path AppModel::configFile() const {
  return env_.dataFolder / "config.json";
}

// MARK: - Assignments

void AppModel::setConfig(VistrelConfig config) {
  if (config_ == config)
    return;
  const VistrelConfig old = std::exchange(config_, std::move(config));
  Q_EMIT configChanged();
  if (old.pauseShortcut != config_.pauseShortcut)
    applyShortcut();
  if (old.captureEnabled != config_.captureEnabled)
    captureEnabledChanged();
  if (old.retention() != config_.retention())
    scheduleAutoCleanup();
  if (old.pausedUntil != config_.pausedUntil)
    schedulePauseEnd();
  scheduleSave();
  updateDerived();
}

void AppModel::setPane(Pane pane) {
  if (assign(pane_, pane))
    Q_EMIT paneChanged();
}

void AppModel::setSearchText(std::string text) {
  if (assign(searchText_, std::move(text)))
    Q_EMIT searchTextChanged();
}

void AppModel::setAppFilter(std::optional<Bytes> tag) {
  if (assign(appFilter_, std::move(tag)))
    Q_EMIT appFilterChanged();
}

void AppModel::setRange(DateRange range) {
  if (assign(range_, range))
    Q_EMIT rangeChanged();
}

void AppModel::setOpenFrame(std::optional<OpenFrame> frame) {
  if (assign(openFrame_, std::move(frame)))
    Q_EMIT openFrameChanged();
}

void AppModel::setTimelineDay(Date day) {
  if (assign(timelineDay_, day))
    Q_EMIT timelineDayChanged();
}

void AppModel::setTimelineIndex(int index) {
  if (assign(timelineIndex_, index))
    Q_EMIT timelineIndexChanged();
}

namespace {

// One for the whole process: the window layer outlives no model but may come after the first.
std::function<void()>& openMainWindowAction() {
  static std::function<void()> action;
  return action;
}

}  // namespace

void AppModel::installOpenMainWindow(std::function<void()> open) {
  openMainWindowAction() = std::move(open);
}

void AppModel::showMainWindow(Pane pane) {
  setPane(pane);
  // Copied: opening the window may install a new opener while this one runs.
  if (const std::function<void()> open = openMainWindowAction())
    open();
  if (env_.activate)
    env_.activate();
}

void AppModel::setLibraryProblem(std::optional<std::string> problem) {
  if (assign(libraryProblem_, std::move(problem))) {
    Q_EMIT libraryProblemChanged();
    updateDerived();
  }
}

void AppModel::setScreenRecording(bool granted) {
  if (assign(screenRecording_, granted)) {
    Q_EMIT screenRecordingChanged();
    updateDerived();
  }
}

bool AppModel::refreshScreenAccess() {
  const bool permitted = env_.probes->hasScreenRecordingPermission();
  std::optional<std::string> problem =
      permitted ? std::nullopt : env_.probes->screenAccessProblem();
  if (assign(screenAccessProblem_, std::move(problem))) {
    Q_EMIT screenAccessProblemChanged();
    updateDerived();
  }
  setScreenRecording(permitted);
  return permitted;
}

void AppModel::setSkip(std::optional<SkipReason> skip) {
  if (assign(skip_, std::move(skip))) {
    Q_EMIT skipChanged();
    updateDerived();
  }
}

void AppModel::setLastFrameAt(std::optional<Date> date) {
  if (assign(lastFrameAt_, date)) {
    Q_EMIT lastFrameAtChanged();
    updateDerived();
  }
}

void AppModel::setCaptureError(std::optional<std::string> error) {
  if (assign(captureError_, std::move(error))) {
    Q_EMIT captureErrorChanged();
    updateDerived();
  }
}

void AppModel::setShortcutRefused(bool refused) {
  if (assign(shortcutRefused_, refused))
    Q_EMIT shortcutRefusedChanged();
}

void AppModel::setStats(LibraryStats stats) {
  if (assign(stats_, std::move(stats)))
    Q_EMIT statsChanged();
}

void AppModel::setApps(std::vector<AppEntry> apps) {
  if (assign(apps_, std::move(apps)))
    Q_EMIT appsChanged();
}

void AppModel::setLastNotice(std::optional<std::string> notice) {
  if (assign(lastNotice_, std::move(notice)))
    Q_EMIT lastNoticeChanged();
}

void AppModel::setHits(std::vector<FrameSummary> hits) {
  if (assign(hits_, std::move(hits)))
    Q_EMIT hitsChanged();
}

void AppModel::setSearchedQuery(SearchQuery query) {
  if (assign(searchedQuery_, std::move(query)))
    Q_EMIT searchedQueryChanged();
}

void AppModel::setTimelineStamps(std::vector<FrameStamp> stamps) {
  if (assign(timelineStamps_, std::move(stamps)))
    Q_EMIT timelineStampsChanged();
}

// MARK: - Derived values

bool AppModel::isPaused() const {
  return config_.isPaused(env_.clock->now());
}

std::string AppModel::statusLine() const {
  if (libraryProblem_)
    return "The history can't be opened";
  if (skip_ && skip_->kind() == SkipReason::Kind::noPermission && screenAccessProblem_)
    return *screenAccessProblem_;
  if (skip_)
    return skip_->message([this](Date date) { return formatShort(date); });
  if (captureError_)
    return "Couldn't capture: " + *captureError_;
  if (!lastFrameAt_) {
    const auto seconds = static_cast<long long>(config_.captureInterval());
    return "Recording · every " + std::to_string(seconds) + " s when the screen changes";
  }
  return "Recording · last change saved " + formatStandard(*lastFrameAt_);
}

bool AppModel::isRecording() const {
  return config_.captureEnabled && !isPaused() && screenRecording_ && !skip_;
}

std::string AppModel::menuBarSymbol() const {
  if (!config_.captureEnabled)
    return "rewind.circle";
  if (isPaused())
    return "pause.circle.fill";
  if (screenRecording_ && !libraryProblem_)
    return "record.circle.fill";
  return "exclamationmark.triangle";
}

void AppModel::updateDerived() {
  if (assign(statusLine_, statusLine()))
    Q_EMIT statusLineChanged();
  if (assign(isRecording_, isRecording()))
    Q_EMIT isRecordingChanged();
  if (assign(menuBarSymbol_, menuBarSymbol()))
    Q_EMIT menuBarSymbolChanged();
}

std::string AppModel::formatShort(Date date) const {
  if (env_.shortTime)
    return env_.shortTime(date);
  return QLocale::system().toString(localTime(date), QLocale::ShortFormat).toStdString();
}

std::string AppModel::formatStandard(Date date) const {
  if (env_.standardTime)
    return env_.standardTime(date);
  // The locale's short format shows no seconds in most locales; the status line wants them.
  QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1Char('s')))
    format.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
  return QLocale::system().toString(localTime(date), format).toStdString();
}

// MARK: - Calendar

Calendar AppModel::calendar() {
  Calendar current = env_.clock->calendar();
  if (std::string zone = current.zoneID(); zone != zoneID_) {
    zoneID_ = std::move(zone);
    // Reacted to later, so that whoever asked is not re-entered in the middle of its own work.
    QMetaObject::invokeMethod(this, &AppModel::zoneChanged, Qt::QueuedConnection);
  }
  return current;
}

void AppModel::zoneChanged() {
  Q_EMIT calendarChanged();
  refreshStats();
  if (range_ != DateRange::all)
    runSearch(true);
  loadTimeline(true);
}

// MARK: - Start-up and shut-down

namespace {

// Why nothing can be read from the data folder; none when it can, or when there is no folder
// yet (the first launch, which makes it later).
std::optional<std::string> dataFolderProblem(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (status.type() == fs::file_type::not_found)
    return std::nullopt;
  if (error)
    return error.message();
  if (!fs::is_directory(status))
    return folder.string() + " is not a folder";
  fs::directory_iterator listing(folder, error);
  if (error)
    return error.message();
  return std::nullopt;
}

}  // namespace

void AppModel::start() {
  std::optional<std::string> problem = dataFolderProblem(env_.dataFolder);
  if (!problem) {
    try {
      if (std::filesystem::exists(configFile())) {
        ConfigFile::Reading reading = ConfigFile::readFile(configFile());
        if (!reading.exact)
          inexactSettings_ = reading.config;
        setConfig(std::move(reading.config));
      }
    } catch (const std::exception& error) {
      problem = error.what();
    }
  }
  if (problem) {
    // The defaults run instead; the screens say why nothing of the saved state shows.
    setLibraryProblem("Couldn't read the data folder: " + *problem);
    refreshScreenAccess();
    applyShortcut();
    setSkip(SkipReason::off());
    updateDerived();
    return;
  }
  refreshScreenAccess();
  noticeKeyMove();
  openLibrary(false);
  applyShortcut();
  if (!config_.captureEnabled)
    setSkip(SkipReason::off());
  else
    startLoop();
  scheduleAutoCleanup();
  updateDerived();
}

void AppModel::shutdown() {
  hotkeys_->unregisterHotkey();
  saveNow();
}

// MARK: - Library

bool AppModel::openLibrary(bool create) {
  if (library_)
    return true;
  if (destroying_)
    return false;
  const auto* platform = dynamic_cast<const PlatformKeyStore*>(env_.keyStore.get());
  const bool hadKeyFileWithoutKeyring =
      platform != nullptr && platform->createdKeyFileWithoutKeyring();
  std::shared_ptr<FrameLibrary> opened;
  try {
    opened = FrameLibrary::open(env_.dataFolder, *env_.keyStore, create, calendar());
  } catch (const VistrelCryptoError& error) {
    switch (error.kind()) {
      case VistrelCryptoError::Kind::wrongKey:
        setLibraryProblem(texts::keyMissingProblem(keyPlace()));
        break;
      case VistrelCryptoError::Kind::unreachable:
        // Its own words: the history is intact, and nothing advises deleting it.
        setLibraryProblem(error.what());
        break;
      default:
        setLibraryProblem("Couldn't open the history: " + std::string(error.what()));
    }
    return false;
  } catch (const std::exception& error) {
    setLibraryProblem("Couldn't open the history: " + std::string(error.what()));
    return false;
  }
  if (!opened)
    return false;
  installLibrary(std::move(opened));
  if (!hadKeyFileWithoutKeyring && platform != nullptr &&
      platform->createdKeyFileWithoutKeyring() && platform->keyFile())
    showNotice(texts::keyFileWithoutKeyringNotice(platform->keyFile()->string()));
  return true;
}

void AppModel::installLibrary(std::shared_ptr<FrameLibrary> library) {
  library_ = std::move(library);
  ++libraryGeneration_;
  recorder_ = env_.makeRecorder(library_, config_.maxWidth);
  Q_EMIT libraryChanged();
  refreshStats();
  runSearch(true);
  setLibraryProblem(std::nullopt);
}

void AppModel::applyShortcut() {
  QPointer<AppModel> self(this);
  hotkeys_->registerHotkey(config_.pauseShortcut.keyCode, config_.pauseShortcut.modifiers, [self] {
    if (self)
      self->togglePause();
  });
  const HotkeyGrabber::Result result = hotkeys_->lastResult();
  setShortcutRefused(result == HotkeyGrabber::Result::taken);
  if (assign(hotkeysUnavailable_, result == HotkeyGrabber::Result::unavailable))
    Q_EMIT hotkeysUnavailableChanged();
}

void AppModel::suspendShortcut() {
  hotkeys_->unregisterHotkey();
}

void AppModel::resumeShortcut() {
  applyShortcut();
}

void AppModel::refreshStats() {
  if (!library_) {
    setStats(LibraryStats{});
    setApps({});
    return;
  }
  struct Result {
    std::optional<LibraryStats> stats;
    std::optional<std::vector<AppEntry>> apps;
  };
  const std::uint64_t used = libraryGeneration_;
  const std::uint64_t request = ++statsRequest_;
  inBackground<Result>(
      [library = library_, now = env_.clock->now(), calendar = calendar()] {
        Result result;
        try {
          result.stats = library->stats(now);
          // The library counts today in the zone it was opened in; after a change of zone
          // today is the new zone's day.
          if (calendar.zoneID() != library->calendar().zoneID())
            result.stats->today =
                std::int64_t(library->stamps(calendar.startOfDay(now), Date::max()).size());
        } catch (const std::exception&) {
        }
        try {
          result.apps = library->apps();
        } catch (const std::exception&) {
        }
        return result;
      },
      [this, used, request](Result result) {
        // An older count finishing late must not replace a newer one.
        if (libraryGeneration_ != used || request != statsRequest_)
          return;
        // A count that could not be read leaves the last one shown: zeros would tell the user
        // the history is empty.
        if (result.stats)
          setStats(*result.stats);
        if (result.apps)
          setApps(std::move(*result.apps));
      });
}

void AppModel::runSearch(bool immediate) {
  cancel(searchTask_);
  if (!library_) {
    setHits({});
    return;
  }
  auto job = std::make_shared<Job>();
  searchTask_ = job;
  SearchQuery query = SearchQuery::parse(searchText_);
  const std::optional<Date> earliest = earliestDate(range_, env_.clock->now(), calendar());
  auto search = [this, job, query = std::move(query), tag = appFilter_, earliest] {
    if (job->isCancelled() || !library_)
      return;
    const std::uint64_t used = libraryGeneration_;
    inBackground<JobResult<std::vector<FrameSummary>>>(
        [library = library_, query, tag, earliest] {
          return attempt(
              [&] { return library->search(query, tag, earliest, std::nullopt, searchLimit); });
        },
        [this, job, used, query](JobResult<std::vector<FrameSummary>> result) {
          if (job->isCancelled() || libraryGeneration_ != used)
            return;
          if (searchTask_ == job)
            searchTask_.reset();
          setHits(std::move(result.value).value_or(std::vector<FrameSummary>{}));
          setSearchedQuery(query);
          // No hits because the search failed is not "nothing found".
          if (!result.value)
            showNotice("Couldn't search the history: " + result.error);
          Q_EMIT searchFinished();
        });
  };
  if (immediate)
    search();
  else
    afterDelay(job, searchDelay, std::move(search));
}

void AppModel::loadTimeline(bool keepPosition) {
  const std::uint64_t request = ++timelineRequest_;
  if (!library_) {
    setTimelineStamps({});
    return;
  }
  const std::uint64_t used = libraryGeneration_;
  inBackground<JobResult<std::vector<FrameStamp>>>(
      [library = library_, day = timelineDay_, calendar = calendar()] {
        const Date start = calendar.startOfDay(day);
        const Date end = calendar.addingDays(start, 1).value_or(start + Seconds(86400.0));
        return attempt([&] { return library->stamps(start, end); });
      },
      [this, used, request, keepPosition](JobResult<std::vector<FrameStamp>> result) {
        // Answers can come back in any order; only the newest request's stamps are shown.
        if (libraryGeneration_ != used || request != timelineRequest_)
          return;
        std::optional<std::int64_t> kept;
        if (keepPosition && timelineIndex_ >= 0 &&
            std::size_t(timelineIndex_) < timelineStamps_.size())
          kept = timelineStamps_[std::size_t(timelineIndex_)].id;
        // A frame asked for by showInTimeline wins over the position kept or the newest, so
        // the screen's own reload of the new day does not undo it.
        if (timelineFocus_)
          kept = timelineFocus_;
        // An empty day because the day could not be read is not a day without frames.
        if (!result.value)
          showNotice("Couldn't read the timeline: " + result.error);
        std::vector<FrameStamp> stamps =
            std::move(result.value).value_or(std::vector<FrameStamp>{});
        int index = stamps.empty() ? 0 : int(stamps.size()) - 1;
        if (kept) {
          const auto found = std::find_if(stamps.begin(), stamps.end(),
                                          [&](const FrameStamp& s) { return s.id == *kept; });
          if (found != stamps.end())
            index = int(found - stamps.begin());
        }
        timelineFocus_.reset();
        setTimelineStamps(std::move(stamps));
        setTimelineIndex(index);
      });
}

JobHandle AppModel::beginLoad(QObject* context, LoadKind kind) {
  const auto [entry, inserted] = loads_.try_emplace(context);
  if (inserted) {
    // A screen that goes away takes its requests with it.
    entry->second.destroyed = connect(context, &QObject::destroyed, this, [this, context] {
      const auto found = loads_.find(context);
      if (found == loads_.end())
        return;
      cancel(found->second.summary);
      cancel(found->second.image);
      loads_.erase(found);
    });
  }
  JobHandle& slot = kind == LoadKind::summary ? entry->second.summary : entry->second.image;
  cancel(slot);
  slot = std::make_shared<Job>();
  return slot;
}

void AppModel::endLoad(QObject* context, LoadKind kind, const JobHandle& job) {
  const auto found = loads_.find(context);
  if (found == loads_.end())
    return;
  JobHandle& slot = kind == LoadKind::summary ? found->second.summary : found->second.image;
  if (slot == job)
    slot.reset();
  if (!found->second.summary && !found->second.image) {
    disconnect(found->second.destroyed);
    loads_.erase(found);
  }
}

template <typename Value>
void AppModel::loadForScreen(QObject* context, LoadKind kind,
                             std::function<std::optional<Value>(FrameLibrary&)> work,
                             std::function<void(std::optional<Value>)> done) {
  if (!context)
    context = this;
  const JobHandle job = beginLoad(context, kind);
  auto finish = [this, job, context, kind, done = std::move(done)](std::optional<Value> value) {
    if (job->isCancelled())
      return;
    endLoad(context, kind, job);
    done(std::move(value));
  };
  if (!library_) {
    // Answered later even now, so a screen never sees its callback run inside its own call.
    QMetaObject::invokeMethod(
        this, [finish] { finish(std::nullopt); }, Qt::QueuedConnection);
    return;
  }
  const std::uint64_t used = libraryGeneration_;
  inBackground<std::optional<Value>>(
      [library = library_, work = std::move(work)] { return work(*library); },
      [this, used, finish](std::optional<Value> value) {
        // A frame read from a library closed, deleted or reopened meanwhile belongs to no
        // history the screens show.
        if (libraryGeneration_ != used || !library_)
          value.reset();
        finish(std::move(value));
      });
}

void AppModel::loadSummary(std::int64_t id, SearchQuery query, QObject* context,
                           std::function<void(std::optional<FrameSummary>)> done) {
  loadForScreen<FrameSummary>(
      context, LoadKind::summary,
      [id, query = std::move(query)](FrameLibrary& library) { return library.summary(id, query); },
      std::move(done));
}

void AppModel::loadImage(std::int64_t id, QObject* context,
                         std::function<void(std::optional<Image>)> done) {
  loadForScreen<Image>(
      context, LoadKind::image,
      [id](FrameLibrary& library) -> std::optional<Image> {
        const std::optional<Bytes> bytes = library.image(id);
        if (!bytes)
          return std::nullopt;
        return Imaging::decode(*bytes);
      },
      std::move(done));
}

// MARK: - Notices, cleanup and saving

void AppModel::afterDelay(const JobHandle& job, double seconds, std::function<void()> action) {
  std::weak_ptr<Job> weak = job;
  env_.clock->after(seconds, this, [weak, action = std::move(action)] {
    const JobHandle job = weak.lock();
    if (job && !job->isCancelled())
      action();
  });
}

void AppModel::showNotice(std::string text) {
  setLastNotice(std::move(text));
  cancel(noticeTask_);
  auto job = std::make_shared<Job>();
  noticeTask_ = job;
  afterDelay(job, noticeDuration, [this, job] {
    noticeTask_.reset();
    setLastNotice(std::nullopt);
  });
}

void AppModel::scheduleAutoCleanup() {
  if (!library_)
    return;
  cancel(cleanupTask_);
  lastCleanup_ = env_.clock->now();
  auto job = std::make_shared<Job>();
  cleanupTask_ = job;
  afterDelay(job, autoCleanupDelay, [this, job] {
    if (!library_)
      return;
    const std::uint64_t used = libraryGeneration_;
    inBackground<std::optional<std::int64_t>>(
        [library = library_, policy = config_.retention(), now = env_.clock->now()] {
          return std::optional(library->cleanup(policy, now));
        },
        [this, job, used](std::optional<std::int64_t> removed) {
          if (job->isCancelled() || libraryGeneration_ != used)
            return;
          cleanupTask_.reset();
          const std::int64_t n = removed.value_or(0);
          Q_EMIT cleanupFinished(n);
          if (n < 1)
            return;
          showNotice("Cleaned up " + std::to_string(n) + " old " +
                     countText(n, "frame.", "frames."));
          refreshStats();
          runSearch(true);
          loadTimeline(true);
        });
  });
}

void AppModel::cleanUpNow() {
  if (!library_)
    return;
  const std::uint64_t used = libraryGeneration_;
  inBackground<JobResult<std::int64_t>>(
      [library = library_, policy = config_.retention(), now = env_.clock->now()] {
        return attempt([&] { return library->cleanup(policy, now); });
      },
      [this, used](JobResult<std::int64_t> removed) {
        if (libraryGeneration_ != used)
          return;
        // A cleanup that could not run has not found everything within the limits.
        if (!removed.value)
          return showNotice("Couldn't clean up: " + removed.error);
        const std::int64_t n = *removed.value;
        Q_EMIT cleanupFinished(n);
        refreshStats();
        runSearch(true);
        loadTimeline(true);
        if (n == 0)
          showNotice("Nothing to clean up: everything is within the limits.");
        else
          showNotice("Cleaned up " + std::to_string(n) + countText(n, " frame.", " frames."));
      });
}

void AppModel::scheduleSave() {
  cancel(saveTask_);
  auto job = std::make_shared<Job>();
  saveTask_ = job;
  afterDelay(job, saveDelay, [this] {
    saveTask_.reset();
    saveNow();
  });
}

void AppModel::saveNow() {
  cancel(saveTask_);
  if (!env_.saveSettings)
    return;
  // A file read with losses is left as the user wrote it until they change a setting; then it is
  // kept beside the new one, so nothing they wrote is lost for good.
  if (inexactSettings_ && config_ == *inexactSettings_)
    return;
  try {
    if (inexactSettings_) {
      ConfigFile::keepAsBroken(configFile());
      inexactSettings_.reset();
    }
    ConfigFile::save(config_, configFile());
  } catch (const std::exception& error) {
    showNotice("Couldn't save settings: " + std::string(error.what()));
  }
}

}  // namespace vistrel
