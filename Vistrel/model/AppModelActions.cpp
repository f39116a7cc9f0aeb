// The user actions of the application model: capture on and off, deletions, copying, exclusions,
// open at login, deleting everything and showing a frame in the timeline.

#include <QString>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
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
  const bool permitted = env_.probes->hasScreenRecordingPermission();
  setScreenRecording(permitted);
  if (!permitted) {
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
  const Date now = env_.clock->now();
  const Date start = minutes ? now - Seconds(*minutes * 60) : env_.calendar.startOfDay(now);
  // A frame being stored at this very moment is included.
  const Date end = now + Seconds(60);
  inBackground<std::optional<std::int64_t>>(
      [library = library_, start, end] { return std::optional(library->deleteRange(start, end)); },
      [this](std::optional<std::int64_t> deleted) {
        // The frame the change test compares against may be gone.
        if (recorder_)
          recorder_->reset();
        refreshAfterDeletion();
        showNotice(deletedText(deleted.value_or(0)));
      });
}

void AppModel::deleteFrame(std::int64_t id) {
  if (!library_)
    return;
  inBackground<std::optional<std::int64_t>>(
      [library = library_, id] { return std::optional(library->remove({id})); },
      [this](std::optional<std::int64_t>) {
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

void AppModel::deleteEverything() {
  library_.reset();
  recorder_.reset();
  ++libraryGeneration_;
  cancel(searchTask_);
  cancel(cleanupTask_);
  Q_EMIT libraryChanged();
  setHits({});
  setTimelineStamps({});
  // A store, search or cleanup already under way still holds the library; the files go only
  // once none does, so no closing connection touches the files of the next library.
  pool_.waitForDone();

  const std::filesystem::path& folder = env_.dataFolder;
  std::error_code ignored;
  for (const char* name : {"history.sqlite", "history.sqlite-wal", "history.sqlite-shm"})
    std::filesystem::remove(folder / name, ignored);
  std::filesystem::remove_all(folder / "frames", ignored);
  try {
    env_.keyStore->remove();
  } catch (const std::exception&) {
    // The next library makes a new key either way.
  }

  setLibraryProblem(std::nullopt);
  setStats(LibraryStats{});
  setApps({});
  if (config_.captureEnabled)
    openLibrary(true);
  showNotice("Deleted the whole history and its key.");
}

void AppModel::showInTimeline(const FrameSummary& summary) {
  setOpenFrame(std::nullopt);
  setTimelineDay(summary.date);
  if (pane_ != Pane::timeline)
    setPane(Pane::timeline);
  loadTimelineThen(false, [this, id = summary.id] {
    const auto found = std::find_if(timelineStamps_.begin(), timelineStamps_.end(),
                                    [&](const FrameStamp& stamp) { return stamp.id == id; });
    if (found != timelineStamps_.end())
      setTimelineIndex(int(found - timelineStamps_.begin()));
  });
}

}  // namespace vistrel
