#pragma once

// Test support: a clock whose wall time and monotonic time move only when the test says so.

#include <QObject>
#include <QPointer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "Vistrel/model/Clock.h"

namespace vistrel::testing {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(Date start) : now_(start) {}

  Date now() override { return now_; }
  Calendar calendar() override { return calendar_; }

  void after(double seconds, QObject* context, std::function<void()> action) override {
    timers_.push_back(
        Timer{monotonic_ + std::max(0.0, seconds), next_++, context, std::move(action)});
  }

  // Moves both clocks forward by `seconds`, running every timer that falls due on the way in
  // order, each at its own moment, and calling `settle` after each so that work it starts can
  // schedule further timers.
  void advance(double seconds) {
    const double target = monotonic_ + seconds;
    settleNow();
    while (true) {
      auto due =
          std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
            return a.due < b.due || (a.due == b.due && a.order < b.order);
          });
      if (due == timers_.end() || due->due > target)
        break;
      Timer timer = std::move(*due);
      timers_.erase(due);
      now_ += Seconds(timer.due - monotonic_);
      monotonic_ = timer.due;
      if (timer.context)
        timer.action();
      settleNow();
    }
    now_ += Seconds(target - monotonic_);
    monotonic_ = target;
    settleNow();
  }

  // Moves only the wall clock, as when the user changes the system time.
  void setNow(Date date) { now_ = date; }
  // Changes the zone, as when the user picks another time zone while the application runs.
  void setCalendar(Calendar calendar) { calendar_ = std::move(calendar); }

  std::size_t pendingTimers() const { return timers_.size(); }

  // Run after every step of advance; the model's tests let its background work finish here.
  std::function<void()> settle;

 private:
  struct Timer {
    double due = 0;
    std::uint64_t order = 0;
    QPointer<QObject> context;
    std::function<void()> action;
  };

  void settleNow() {
    if (settle)
      settle();
  }

  Date now_;
  Calendar calendar_ = Calendar::utc();
  double monotonic_ = 0;
  std::uint64_t next_ = 0;
  std::vector<Timer> timers_;
};

}  // namespace vistrel::testing
