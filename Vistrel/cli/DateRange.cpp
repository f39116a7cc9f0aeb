#include "Vistrel/cli/DateRange.h"

#include <string>

#include "Vistrel/cli/Session.h"

namespace vistrel::cli {

DateRange parseDateRange(std::string_view text) {
  if (text == "today")
    return DateRange::today;
  if (text == "week")
    return DateRange::week;
  if (text == "month")
    return DateRange::month;
  if (text == "all")
    return DateRange::all;
  throw UsageError("--range must be today, week, month or all, not \"" + std::string(text) + "\".");
}

std::optional<Date> earliestDate(DateRange range, Date now, const Calendar& calendar) {
  const Date today = calendar.startOfDay(now);
  auto daysBack = [&](int days) {
    // A calendar that cannot step back (far outside its tables) still gives a sensible bound.
    return calendar.addingDays(today, -days).value_or(today - Seconds(86400.0 * days));
  };
  switch (range) {
    case DateRange::today:
      return today;
    case DateRange::week:
      return daysBack(6);
    case DateRange::month:
      return daysBack(29);
    case DateRange::all:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace vistrel::cli
