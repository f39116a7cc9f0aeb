// The capture loop of the application model: the loop job, one tick with its checks in order,
// and the pause operations.

#include <QMetaObject>
#include <algorithm>
#include <exception>
#include <utility>

#include "Vistrel/model/AppModel.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/imaging/Imaging.h"

namespace vistrel {
namespace {

constexpr std::string_view singleColourScreen =
    "the screen showed one colour only (blank or unreadable), so nothing was saved";

std::optional<WindowInfo> infoOf(const std::optional<FrontWindow>& front) {
  if (!front)
    return std::nullopt;
  return front->info;
}

// Why the window in front, or a password prompt, must not be recorded; fills `front`. Secure
// input is asked about only when the user wants it checked, so that a question they switched
// off cannot stop the capture by having no answer.
std::optional<SkipReason> frontWindowReason(Probes& probes, const ExclusionRules& rules,
                                            std::optional<FrontWindow>& front) {
  front = probes.frontWindow();
  const bool secureInput = rules.skipSecureInput() && probes.isSecureInputOn();
  return rules.evaluate(infoOf(front), secureInput);
}

}  // namespace

void AppModel::startLoop() {
  if (loopTask_)
    return;
  auto loop = std::make_shared<Job>();
  loopTask_ = loop;
  updateDerived();
  loopStep(loop);
}

void AppModel::stopLoop() {
  cancel(loopTask_);
  setSkip(SkipReason::off());
  showNotice("Capture is off. Nothing new is saved.");
}

void AppModel::loopStep(const JobHandle& loop) {
  if (loop->isCancelled())
    return;
  std::weak_ptr<Job> weak = loop;
  tick([this, weak](const TickReport&) {
    const JobHandle loop = weak.lock();
    if (!loop || loop->isCancelled())
      return;
    // Measured from the end of this tick, so a slow tick lengthens the cycle.
    afterDelay(loop, config_.captureInterval(), [this, weak] {
      if (const JobHandle loop = weak.lock())
        loopStep(loop);
    });
  });
}

void AppModel::finishTick(const TickReport& report,
                          const std::function<void(const TickReport&)>& done) {
  Q_EMIT tickFinished(report);
  if (done)
    done(report);
}

void AppModel::tick(std::function<void(const TickReport&)> done) {
  const Date now = env_.clock->now();
  // Notices a change of time zone even while no screen asks for the calendar.
  calendar();
  const auto skipped = [&](SkipReason reason) {
    setSkip(reason);
    TickReport report;
    report.skip = std::move(reason);
    finishTick(report, done);
  };

  if (!config_.captureEnabled)
    return skipped(SkipReason::off());
  if (config_.pausedUntil) {
    if (*config_.pausedUntil > now)
      return skipped(SkipReason::paused(config_.pausedUntil));
    VistrelConfig resumed = config_;
    resumed.pausedUntil.reset();
    setConfig(std::move(resumed));
  }
  if (!refreshScreenAccess())
    return skipped(SkipReason::noPermission());
  if (!openLibrary(true) || !recorder_)
    return skipped(SkipReason::off());
  ExclusionRules rules = config_.exclusionRules(env_.ownBundleID);
  std::optional<FrontWindow> front;
  std::optional<SkipReason> reason;
  try {
    if (env_.probes->isScreenLockedOrAsleep())
      reason = SkipReason::locked();
    else if (config_.stopWhenIdle && env_.probes->idleSeconds() > config_.idleMinutes * 60)
      reason = SkipReason::idle();
    else
      reason = frontWindowReason(*env_.probes, rules, front);
  } catch (const ProbeUnknown& unknown) {
    reason = SkipReason::unknown(unknown.what());
  }
  if (reason)
    return skipped(std::move(*reason));

  struct Shot {
    std::shared_ptr<const Screenshot> screenshot;
    std::optional<std::string> error;
  };
  const std::optional<Point> center = front ? front->center : std::nullopt;
  const std::uint64_t generation = libraryGeneration_;
  // Taken as large as the recorder reads text, which it does before scaling to the width kept.
  const int captureWidth = std::max(config_.maxWidth, Recorder::textReadingWidth);
  inBackground<Shot>(
      [probes = env_.probes, rules, center, captureWidth] {
        Shot shot;
        try {
          shot.screenshot = std::make_shared<const Screenshot>(
              probes->captureScreen(rules, center, captureWidth));
        } catch (const std::exception& error) {
          shot.error = error.what();
        }
        return shot;
      },
      [this, now, front, rules, generation, done = std::move(done)](Shot shot) {
        // The history was deleted while the screenshot was taken: a picture of the moment
        // before the deletion must not start the new history.
        if (generation != libraryGeneration_) {
          TickReport report;
          report.screenshotTaken = true;
          report.skip = skip_;
          return finishTick(report, done);
        }
        tickAfterScreenshot(now, front, rules, std::move(shot.screenshot), std::move(shot.error),
                            done);
      });
}

void AppModel::tickAfterScreenshot(Date now, std::optional<FrontWindow> front, ExclusionRules rules,
                                   std::shared_ptr<const Screenshot> screenshot,
                                   std::optional<std::string> error,
                                   std::function<void(const TickReport&)> done) {
  TickReport report;
  report.screenshotTaken = true;
  if (!screenshot) {
    // skip keeps its value: a failed screenshot says nothing about the moment.
    setCaptureError(error.value_or("The screenshot failed."));
    report.kind = TickReport::Kind::captureFailed;
    report.message = *captureError_;
    tickCleanupCheck();
    return finishTick(report, done);
  }
  // A blanked or unreadable screen gives one colour everywhere: nothing to remember.
  if (Imaging::isSingleColour(screenshot->image)) {
    setCaptureError(std::string(singleColourScreen));
    report.kind = TickReport::Kind::captureFailed;
    report.message = *captureError_;
    tickCleanupCheck();
    return finishTick(report, done);
  }

  // The user may have switched windows while the screenshot was taken.
  std::optional<FrontWindow> frontNow;
  std::optional<SkipReason> reason;
  try {
    reason = frontWindowReason(*env_.probes, rules, frontNow);
  } catch (const ProbeUnknown& unknown) {
    reason = SkipReason::unknown(unknown.what());
  }
  if (reason) {
    setSkip(*reason);
    report.skip = std::move(*reason);
    return finishTick(report, done);
  }
  // Deleting the history while capture is off leaves nothing to record into.
  const std::shared_ptr<Recorder> recorder = recorder_;
  if (!recorder) {
    setSkip(SkipReason::off());
    report.skip = SkipReason::off();
    return finishTick(report, done);
  }

  std::string appName = front ? front->info.appName : std::string("Desktop");
  std::optional<std::string> bundleID = front ? front->info.bundleID : std::nullopt;
  std::optional<std::string> title = front ? front->info.title : std::nullopt;
  inBackground<std::optional<Recorder::Outcome>>(
      [recorder, screenshot, appName = std::move(appName), bundleID = std::move(bundleID),
       title = std::move(title), now] {
        return std::optional(recorder->record(screenshot->image, appName, bundleID, title, now,
                                              screenshot->windows));
      },
      [this, now, report, done = std::move(done)](std::optional<Recorder::Outcome> result) mutable {
        const Recorder::Outcome outcome =
            result.value_or(Recorder::Outcome(Recorder::Failed{"Couldn't record the frame"}));
        setSkip(std::nullopt);
        setCaptureError(std::nullopt);
        if (std::holds_alternative<Recorder::Stored>(outcome)) {
          setLastFrameAt(now);
          refreshStats();
        } else if (const auto* failed = std::get_if<Recorder::Failed>(&outcome)) {
          setCaptureError(failed->message);
        }
        // Capture turned off while this tick was in flight: the frame is kept, but the status
        // must not go back to "Recording" with no tick left to correct it.
        if (!config_.captureEnabled)
          setSkip(SkipReason::off());
        report.kind = TickReport::Kind::recorded;
        report.outcome = outcome;
        tickCleanupCheck();
        finishTick(report, done);
      });
}

void AppModel::tickCleanupCheck() {
  if (env_.clock->now() - lastCleanup_ > Seconds(cleanupPeriod))
    scheduleAutoCleanup();
}

void AppModel::resetRecorderInBackground() {
  if (!recorder_)
    return;
  inBackground<bool>(
      [recorder = recorder_] {
        recorder->reset();
        return true;
      },
      [](bool) {});
}

void AppModel::schedulePauseEnd() {
  cancel(pauseEndTask_);
  const std::optional<Date> until = config_.pausedUntil;
  // A pause until resumed has no end to wait for.
  if (!until || *until >= distantFuture)
    return;
  auto job = std::make_shared<Job>();
  pauseEndTask_ = job;
  // The wall clock may move while the timer waits (or the timer may give up after a day), so on
  // firing the pause is checked again rather than assumed over.
  const double wait = std::max(0.0, (*until - env_.clock->now()).count());
  afterDelay(job, wait, [this, job] {
    pauseEndTask_.reset();
    if (!config_.pausedUntil)
      return;
    if (isPaused())
      return schedulePauseEnd();
    VistrelConfig resumed = config_;
    resumed.pausedUntil.reset();
    setConfig(std::move(resumed));
    if (skip_ && skip_->kind() == SkipReason::Kind::paused)
      setSkip(std::nullopt);
    updateDerived();
  });
}

void AppModel::pause(std::optional<double> minutes) {
  const Date now = env_.clock->now();
  VistrelConfig paused = config_;
  paused.pausedUntil = minutes ? now + Seconds(*minutes * 60) : distantFuture;
  setConfig(std::move(paused));
  setSkip(SkipReason::paused(config_.pausedUntil));
  resetRecorderInBackground();
  showNotice(skip_ ? skip_->message([this](Date date) { return formatShort(date); })
                   : std::string("Paused"));
}

void AppModel::pauseUntilTomorrow() {
  const Date now = env_.clock->now();
  VistrelConfig paused = config_;
  paused.pausedUntil = calendar().startOfDay(now + Seconds(86400));
  setConfig(std::move(paused));
  setSkip(SkipReason::paused(config_.pausedUntil));
  showNotice(skip_ ? skip_->message([this](Date date) { return formatShort(date); })
                   : std::string("Paused"));
}

void AppModel::resume() {
  VistrelConfig resumed = config_;
  resumed.pausedUntil.reset();
  setConfig(std::move(resumed));
  setSkip(std::nullopt);
  showNotice("Capture resumed.");
  QMetaObject::invokeMethod(
      this, [this] { tick(); }, Qt::QueuedConnection);
}

void AppModel::togglePause() {
  if (!config_.captureEnabled) {
    showNotice(std::string(texts::turnOnFromTrayFirst));
    return;
  }
  if (isPaused())
    resume();
  else
    pause(std::nullopt);
}

}  // namespace vistrel
