#pragma once

#include <optional>
#include <string_view>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"

namespace vistrel {

// The search's time filter.
enum class DateRange { today, week, month, all };

std::string_view rawValue(DateRange range);

// The earliest capture time a search with this filter accepts, counted in calendar days from the
// start of the day containing `now` (today, the last 7 days, the last 30 days); none for `all`.
// Calendar days, so a daylight-saving change inside the range keeps the boundary on midnight.
std::optional<Date> earliestDate(DateRange range, Date now, const Calendar& calendar);

}  // namespace vistrel
