#pragma once

#include <optional>
#include <string_view>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"

namespace vistrel {

// The search's time filter.
enum class DateRange { today, week, month, all };

std::string_view rawValue(DateRange range);
// The filter named by its raw value; none for any other text.
std::optional<DateRange> dateRangeFromRawValue(std::string_view text);

// The earliest capture time a search with this filter accepts, counted in calendar days from the
// start of the day containing `now` (today, the last 7 days, the last 30 days); none for `all`.
// Calendar days, so a daylight-saving change inside the range keeps the boundary on midnight;
// where midnight does not exist on that day, its first moment. A calendar that cannot step that
// far back still gives a bound, counted in whole days of 86,400 seconds.
std::optional<Date> earliestDate(DateRange range, Date now, const Calendar& calendar);

// The frames "delete recent" removes: start <= date < end.
struct DeletionSpan {
  Date start;
  Date end;

  friend bool operator==(const DeletionSpan&, const DeletionSpan&) = default;
};

// The last `minutes` minutes, or today since its start when none, up to a minute after `now`, so a
// frame being stored at this very moment goes too.
DeletionSpan recentDeletionSpan(std::optional<double> minutes, Date now, const Calendar& calendar);

}  // namespace vistrel
