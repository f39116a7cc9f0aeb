#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "VistrelKit/base/Date.h"

namespace vistrel {

// The Gregorian calendar of one time zone, fixed when a library opens: day folders, "today",
// day stamps and date ranges all follow it, including days of 23 or 25 hours across
// daylight-saving changes. A small immutable value; copies share the zone, and every operation
// is const and safe to call from any thread at once.
class Calendar {
 public:
  struct Day {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    friend bool operator==(const Day&, const Day&) = default;
  };

  // The zone the system is set to (TZ, else /etc/localtime), UTC when it cannot be told.
  static Calendar systemDefault();
  // A zone by its IANA ID, such as "Europe/Berlin"; nothing for an unknown ID.
  static std::optional<Calendar> named(std::string_view zoneID);
  static Calendar utc();

  std::string zoneID() const;

  // The local calendar day containing the date.
  Day day(Date date) const;
  // The first moment of the local day containing the date.
  Date startOfDay(Date date) const;
  // The same wall-clock time `days` calendar days later (or earlier); the step from one start
  // of day to the next is 23 or 25 hours across a daylight-saving change. Nothing when the
  // calendar cannot compute it.
  std::optional<Date> addingDays(Date date, int days) const;
  // The first moment of the given local day; nothing for an impossible date.
  std::optional<Date> startOf(Day day) const;

 private:
  struct Zone;
  explicit Calendar(std::shared_ptr<const Zone> zone);

  std::shared_ptr<const Zone> zone_;
};

}  // namespace vistrel
