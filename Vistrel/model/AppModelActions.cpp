// The user actions of the application model: capture on and off, deletions, copying, exclusions,
// open at login, deleting everything and showing a frame in the timeline.

#include <QString>
#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

std::string deletionFailedText(const std::string& reason) {
  return "Couldn't delete: " + reason;
}

std::string deletedText(std::int64_t n) {
  return "Deleted " + std::to_string(n) + (n == 1 ? " frame." : " frames.");
}

}  // namespace

void AppModel::captureEnabledChanged() {
  if (!config_.captureEnabled) {
    stopLoop();
    return;
  }
  VistrelConfig onboarded = config_;
  onboarded.onboardingDone = true;
  setConfig(std::move(onboarded));
  if (!refreshScreenAccess()) {
    showMainWindow(Pane::capture);
  }
  openLibrary(true);
  startLoop();
}

void AppModel::refreshAfterDeletion() {
  refreshStats();
  runSearch(true);
  loadTimeline(true);
}

void AppModel::deleteRecent(std::optional<double> minutes) {
  if (!library_)
    return;
  const DeletionSpan span = recentDeletionSpan(minutes, env_.clock->now(), calendar());
  const std::uint64_t used = libraryGeneration_;
  inBackground<JobResult<std::int64_t>>(
      [library = library_, span] {
        return attempt([&] { return library->deleteRange(span.start, span.end); });
      },
      [this, used](JobResult<std::int64_t> deleted) {
        // A history deleted meanwhile makes this result, whatever it says, out of date.
        if (libraryGeneration_ != used)
          return;
        if (!deleted.value)
          return showNotice(deletionFailedText(deleted.error));
        // The frame the change test compares against may be gone.
        if (recorder_)
          recorder_->reset();
        refreshAfterDeletion();
        showNotice(deletedText(*deleted.value));
      });
}

void AppModel::deleteFrame(std::int64_t id) {
  if (!library_)
    return;
  const std::uint64_t used = libraryGeneration_;
  inBackground<JobResult<std::int64_t>>(
      [library = library_, id] { return attempt([&] { return library->remove({id}); }); },
      [this, used](JobResult<std::int64_t> deleted) {
        if (libraryGeneration_ != used)
          return;
        if (!deleted.value)
          return showNotice(deletionFailedText(deleted.error));
        setOpenFrame(std::nullopt);
        refreshAfterDeletion();
        showNotice("Deleted the frame.");
      });
}

void AppModel::copyText(const FrameSummary& summary) {
  try {
    env_.clipboard->setText(summary.meta.fullText());
  } catch (const std::exception& error) {
    showNotice("Couldn't copy: " + std::string(error.what()));
    return;
  }
  showNotice("Copied the text of this frame (" + std::to_string(summary.meta.lines.size()) +
             " lines).");
}

void AppModel::copyImage(const Image& image) {
  try {
    env_.clipboard->setImage(image);
  } catch (const std::exception& error) {
    showNotice("Couldn't copy: " + std::string(error.what()));
    return;
  }
  showNotice("Copied the frame as an image.");
}

void AppModel::excludeApp(const std::string& bundleID, const std::string& name) {
  if (bundleID.empty())
    return;
  const auto& apps = config_.excludedApps;
  if (std::any_of(apps.begin(), apps.end(), [&](const ExcludedApp& app) {
        return equalIgnoringCase(app.bundleID, bundleID);
      }))
    return;
  VistrelConfig changed = config_;
  changed.excludedApps.push_back(ExcludedApp{bundleID, name});
  setConfig(std::move(changed));
  showNotice(name + " is never recorded now.");
}

void AppModel::setOpenAtLogin(bool on) {
  try {
    if (!env_.loginItem)
      throw LoginItemError("this desktop has no login items");
    env_.loginItem->setEnabled(on);
  } catch (const std::exception& error) {
    showNotice("Couldn't change Open at Login: " + std::string(error.what()));
  }
}

bool AppModel::isOpenAtLogin() const {
  return env_.loginItem && env_.loginItem->isEnabled();
}

std::vector<RunningApp> AppModel::appsToExclude() const {
  if (!env_.runningApps)
    return {};
  std::vector<RunningApp> offered;
  const auto listed = [](const std::vector<RunningApp>& apps, const std::string& id) {
    return std::any_of(apps.begin(), apps.end(),
                       [&](const RunningApp& app) { return equalIgnoringCase(app.bundleID, id); });
  };
  const auto& excluded = config_.excludedApps;
  for (RunningApp& app : env_.runningApps->runningApps()) {
    if (!app.regular || app.bundleID.empty() || equalIgnoringCase(app.bundleID, env_.ownBundleID))
      continue;
    if (std::any_of(excluded.begin(), excluded.end(), [&](const ExcludedApp& entry) {
          return equalIgnoringCase(entry.bundleID, app.bundleID);
        }))
      continue;
    if (!listed(offered, app.bundleID))
      offered.push_back(std::move(app));
  }
  std::stable_sort(offered.begin(), offered.end(), [](const RunningApp& a, const RunningApp& b) {
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name),
                                                  Qt::CaseInsensitive) < 0;
  });
  return offered;
}

void AppModel::deleteEverything() {
  if (destroying_)
    return;
  std::weak_ptr<FrameLibrary> closing = library_;
  library_.reset();
  recorder_.reset();
  ++libraryGeneration_;
  cancel(searchTask_);
  cancel(cleanupTask_);
  Q_EMIT libraryChanged();
  setOpenFrame(std::nullopt);
  setHits({});
  setTimelineStamps({});
  setStats(LibraryStats{});
  setApps({});
  setLibraryProblem(std::nullopt);
  destroying_ = true;
  const std::uint64_t used = libraryGeneration_;
  inBackground<JobResult<std::vector<std::string>>>(
      [closing, folder = env_.dataFolder, keyStore = env_.keyStore] {
        // A store, search or cleanup already under way still holds the library; the files go
        // only once none does, so no closing connection touches the files of the next library.
        // Waiting here keeps the main thread free meanwhile.
        while (!closing.expired())
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return attempt([&] { return FrameLibrary::destroy(folder, *keyStore); });
      },
      [this, used](JobResult<std::vector<std::string>> failures) {
        destroying_ = false;
        if (libraryGeneration_ != used)
          return;
        if (!failures.value)
          failures.value = std::vector<std::string>{failures.error};
        if (config_.captureEnabled)
          openLibrary(true);
        if (failures.value->empty())
          return showNotice("Deleted the whole history and its key.");
        std::string reasons;
        for (const std::string& failure : *failures.value)
          reasons += (reasons.empty() ? "" : "; ") + failure;
        showNotice(deletionFailedText(reasons));
      });
}

void AppModel::showInTimeline(const FrameSummary& summary) {
  setOpenFrame(std::nullopt);
  timelineFocus_ = summary.id;
  setTimelineDay(summary.date);
  if (pane_ != Pane::timeline)
    setPane(Pane::timeline);
  loadTimeline(false);
}

}  // namespace vistrel
