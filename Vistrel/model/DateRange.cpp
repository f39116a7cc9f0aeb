#include "Vistrel/model/DateRange.h"

namespace vistrel {

std::string_view rawValue(DateRange range) {
  switch (range) {
    case DateRange::today:
      return "today";
    case DateRange::week:
      return "week";
    case DateRange::month:
      return "month";
    case DateRange::all:
      return "all";
  }
  return "all";
}

namespace {

// Where midnight does not exist on the earlier day, its first moment instead.
std::optional<Date> startOfDayBefore(const Calendar& calendar, Date today, int days) {
  const std::optional<Date> moved = calendar.addingDays(today, -days);
  if (!moved)
    return std::nullopt;
  return calendar.startOfDay(*moved);
}

}  // namespace

std::optional<Date> earliestDate(DateRange range, Date now, const Calendar& calendar) {
  const Date today = calendar.startOfDay(now);
  switch (range) {
    case DateRange::today:
      return today;
    case DateRange::week:
      return startOfDayBefore(calendar, today, 6);
    case DateRange::month:
      return startOfDayBefore(calendar, today, 29);
    case DateRange::all:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace vistrel
