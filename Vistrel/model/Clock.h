#pragma once

#include <QByteArray>
#include <QObject>
#include <functional>
#include <optional>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"

namespace vistrel {

// Time as the application model sees it: the wall clock for capture dates, pauses and days, the
// calendar of the zone the system is set to, and monotonic delays for its jobs (debounces, notice
// expiry, the capture loop's sleep). Tests move the clocks and change the zone by hand.
//
// Thread safety: main thread only.
class Clock {
 public:
  virtual ~Clock() = default;

  virtual Date now() = 0;
  // The calendar of the time zone the system is set to at this moment: a zone changed while the
  // application runs shows at the next call.
  virtual Calendar calendar() = 0;
  // Runs `action` on `context`'s thread once `seconds` have passed on a monotonic clock; never
  // runs it when `context` is gone by then. Cancelling is the caller's business (see Job).
  virtual void after(double seconds, QObject* context, std::function<void()> action) = 0;
};

// The system's wall clock and Qt's precise timers.
class SystemClock final : public Clock {
 public:
  Date now() override;
  Calendar calendar() override;
  void after(double seconds, QObject* context, std::function<void()> action) override;

 private:
  // The zone last seen; its calendar is built again only when the zone changes.
  QByteArray zoneID_;
  std::optional<Calendar> calendar_;
};

}  // namespace vistrel
