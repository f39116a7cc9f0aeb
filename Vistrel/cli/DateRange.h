#pragma once

#include <optional>
#include <string_view>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"

namespace vistrel::cli {

// The time filter of a search, as the search screen offers it.
enum class DateRange { today, week, month, all };

// Throws UsageError for anything but "today", "week", "month" and "all".
DateRange parseDateRange(std::string_view text);

// The earliest capture time the range accepts at `now`: the start of today, of the day 6 or 29
// calendar days before it (7 or 30 days including today), or no bound. Calendar days, so a
// daylight-saving change inside the range keeps the bound on midnight.
std::optional<Date> earliestDate(DateRange range, Date now, const Calendar& calendar);

}  // namespace vistrel::cli
