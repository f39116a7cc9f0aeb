#pragma once

// Test support: the application model's internal steps and state, which the screens never see.
// Tests and benchmarks drive and inspect the model through this seam only.

#include <functional>
#include <memory>

#include "Vistrel/model/AppModel.h"

namespace vistrel {

struct AppModelTestAccess {
  AppModel& model;

  const std::optional<SkipReason>& skip() const { return model.skip(); }
  const std::optional<Date>& lastFrameAt() const { return model.lastFrameAt(); }
  const std::optional<std::string>& captureError() const { return model.captureError(); }
  const std::shared_ptr<FrameLibrary>& library() const { return model.library_; }
  const std::shared_ptr<Recorder>& recorder() const { return model.recorder_; }
  bool openLibrary(bool create) const { return model.openLibrary(create); }
  void applyShortcut() const { model.applyShortcut(); }
  void refreshStats() const { model.refreshStats(); }
  void showNotice(std::string text) const { model.showNotice(std::move(text)); }
  void tick(std::function<void(const TickReport&)> done = {}) const { model.tick(std::move(done)); }
  void togglePause() const { model.togglePause(); }
  std::filesystem::path configFile() const { return model.configFile(); }
  Date lastCleanup() const { return model.lastCleanup_; }
  bool isLoopRunning() const { return model.loopTask_ != nullptr; }
  bool isSavePending() const { return model.saveTask_ != nullptr; }
  bool isCleanupPending() const { return model.cleanupTask_ != nullptr; }
  // How many background jobs have started and not yet come back to the main thread.
  int pendingBackgroundJobs() const { return model.pendingJobs_; }
};

}  // namespace vistrel
