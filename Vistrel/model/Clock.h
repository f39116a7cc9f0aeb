#pragma once

#include <QObject>
#include <functional>

#include "VistrelKit/base/Date.h"

namespace vistrel {

// Time as the application model sees it: the wall clock for capture dates, pauses and days, and
// monotonic delays for its jobs (debounces, notice expiry, the capture loop's sleep). Tests move
// both by hand.
//
// Thread safety: main thread only.
class Clock {
 public:
  virtual ~Clock() = default;

  virtual Date now() = 0;
  // Runs `action` on `context`'s thread once `seconds` have passed on a monotonic clock; never
  // runs it when `context` is gone by then. Cancelling is the caller's business (see Job).
  virtual void after(double seconds, QObject* context, std::function<void()> action) = 0;
};

// The system's wall clock and Qt's precise timers.
class SystemClock final : public Clock {
 public:
  Date now() override;
  void after(double seconds, QObject* context, std::function<void()> action) override;
};

}  // namespace vistrel
