#include "VistrelKit/base/DateRange.h"

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

std::optional<DateRange> dateRangeFromRawValue(std::string_view text) {
  for (const DateRange range :
       {DateRange::today, DateRange::week, DateRange::month, DateRange::all})
    if (rawValue(range) == text)
      return range;
  return std::nullopt;
}

namespace {

Date startOfDayBefore(const Calendar& calendar, Date today, int days) {
  const Date moved = calendar.addingDays(today, -days).value_or(today - Seconds(86400.0 * days));
  return calendar.startOfDay(moved);
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

DeletionSpan recentDeletionSpan(std::optional<double> minutes, Date now, const Calendar& calendar) {
  const Date start = minutes ? now - Seconds(*minutes * 60) : calendar.startOfDay(now);
  return DeletionSpan{start, now + Seconds(60)};
}

}  // namespace vistrel
