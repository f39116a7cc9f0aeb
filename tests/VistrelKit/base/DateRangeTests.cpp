#include <gtest/gtest.h>

#include "VistrelKit/base/DateRange.h"

namespace vistrel {
namespace {

struct Case {
  const char* zone;
  double now;  // seconds since 1970
  DateRange range;
  std::optional<double> earliest;
};

class EarliestDateTest : public ::testing::TestWithParam<Case> {};

TEST_P(EarliestDateTest, CountsCalendarDaysFromTheStartOfToday) {
  const Case& c = GetParam();
  const auto calendar = Calendar::named(c.zone);
  ASSERT_TRUE(calendar.has_value());
  const std::optional<Date> expected =
      c.earliest ? std::optional(dateFromSeconds1970(*c.earliest)) : std::nullopt;
  EXPECT_EQ(earliestDate(c.range, dateFromSeconds1970(c.now), *calendar), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, EarliestDateTest,
    ::testing::Values(
        // 2025-04-01 12:00 in Berlin (UTC+2); the clocks went forward on 2025-03-30.
        Case{"Europe/Berlin", 1743501600.0, DateRange::today, 1743458400.0},
        // 2025-03-26 00:00 UTC+1.
        Case{"Europe/Berlin", 1743501600.0, DateRange::week, 1742943600.0},
        // 2025-03-03 00:00 UTC+1.
        Case{"Europe/Berlin", 1743501600.0, DateRange::month, 1740956400.0},
        Case{"Europe/Berlin", 1743501600.0, DateRange::all, std::nullopt},
        // 2018-11-10 12:00 in São Paulo; on 2018-11-04 the day began at 01:00 (midnight was
        // skipped), so the week starts then.
        Case{"America/Sao_Paulo", 1541858400.0, DateRange::week, 1541300400.0},
        // At the very first moment of a day, that day is today.
        Case{"UTC", 1741478400.0, DateRange::today, 1741478400.0}));

TEST(DateRangeNames, RoundTripAndRejectOthers) {
  for (const DateRange range :
       {DateRange::today, DateRange::week, DateRange::month, DateRange::all})
    EXPECT_EQ(dateRangeFromRawValue(rawValue(range)), range);
  EXPECT_EQ(dateRangeFromRawValue("Today"), std::nullopt);
  EXPECT_EQ(dateRangeFromRawValue(""), std::nullopt);
}

TEST(RecentDeletionSpan, ReachesAMinutePastNow) {
  const Calendar utc = Calendar::utc();
  const Date now = dateFromSeconds1970(1741514400.0);  // 2025-03-09 10:00 UTC
  EXPECT_EQ(recentDeletionSpan(15, now, utc),
            (DeletionSpan{now - Seconds(900), now + Seconds(60)}));
  EXPECT_EQ(recentDeletionSpan(std::nullopt, now, utc),
            (DeletionSpan{dateFromSeconds1970(1741478400.0), now + Seconds(60)}));
}

}  // namespace
}  // namespace vistrel
