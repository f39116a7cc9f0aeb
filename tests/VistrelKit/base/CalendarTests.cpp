#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "VistrelKit/base/Calendar.h"

namespace vistrel {
namespace {

Calendar berlin() {
  auto calendar = Calendar::named("Europe/Berlin");
  if (!calendar) {
    throw std::runtime_error("ICU has no Europe/Berlin");
  }
  return *calendar;
}

double hoursOfDay(const Calendar& calendar, Calendar::Day day) {
  const Date start = calendar.startOf(day).value();
  const Date end = calendar.addingDays(start, 1).value();
  return (secondsSince1970(end) - secondsSince1970(start)) / 3600.0;
}

TEST(CalendarTest, KnowsZonesByIDAndRefusesUnknownOnes) {
  EXPECT_EQ(berlin().zoneID(), "Europe/Berlin");
  EXPECT_FALSE(Calendar::named("Mars/Olympus_Mons").has_value());
  EXPECT_FALSE(Calendar::named("").has_value());
  EXPECT_FALSE(Calendar::systemDefault().zoneID().empty());
}

TEST(CalendarTest, DayOfADateIsTheLocalDay) {
  // 2025-03-08 23:30 UTC is already 2025-03-09 00:30 in Berlin.
  const Date lateEvening = dateFromSeconds1970(1741476600.0);
  EXPECT_EQ(berlin().day(lateEvening), (Calendar::Day{2025, 3, 9}));
  EXPECT_EQ(Calendar::utc().day(lateEvening), (Calendar::Day{2025, 3, 8}));
}

TEST(CalendarTest, StartOfDayIsLocalMidnight) {
  const Calendar calendar = berlin();
  // 2024-06-01 00:00 in Berlin (UTC+2) is 2024-05-31 22:00 UTC.
  const Date midnight = dateFromSeconds1970(1717192800.0);
  EXPECT_EQ(calendar.startOfDay(midnight + Seconds(13 * 3600 + 0.5)), midnight);
  EXPECT_EQ(calendar.startOfDay(midnight), midnight);
  EXPECT_EQ(calendar.startOf({2024, 6, 1}), midnight);
}

TEST(CalendarTest, DaysAcrossDaylightSavingChangesLast23Or25Hours) {
  const Calendar calendar = berlin();
  EXPECT_EQ(hoursOfDay(calendar, {2024, 3, 31}), 23.0);
  EXPECT_EQ(hoursOfDay(calendar, {2024, 10, 27}), 25.0);
  EXPECT_EQ(hoursOfDay(calendar, {2024, 6, 1}), 24.0);
  EXPECT_EQ(hoursOfDay(Calendar::utc(), {2024, 3, 31}), 24.0);
}

TEST(CalendarTest, AddingDaysKeepsTheWallClockTime) {
  const Calendar calendar = berlin();
  const Date start = calendar.startOf({2024, 3, 30}).value();
  EXPECT_EQ(calendar.addingDays(start, 2), calendar.startOf({2024, 4, 1}));
  EXPECT_EQ(calendar.addingDays(start, -30), calendar.startOf({2024, 2, 29}));
}

TEST(CalendarTest, DayWhoseMidnightIsSkippedStartsAtTheChange) {
  // Brazil moved its clocks from 00:00 to 01:00 on 2018-11-04; the day began at 01:00 -02:00.
  const auto saoPaulo = Calendar::named("America/Sao_Paulo");
  ASSERT_TRUE(saoPaulo.has_value());
  const Date noon = dateFromSeconds1970(1541300400.0 + 11 * 3600);
  EXPECT_EQ(secondsSince1970(saoPaulo->startOfDay(noon)), 1541300400.0);
}

TEST(CalendarTest, ImpossibleDatesHaveNoStart) {
  const Calendar calendar = berlin();
  EXPECT_FALSE(calendar.startOf({2023, 2, 29}).has_value());
  EXPECT_FALSE(calendar.startOf({2024, 13, 1}).has_value());
  EXPECT_FALSE(calendar.startOf({2024, 4, 0}).has_value());
  EXPECT_TRUE(calendar.startOf({2024, 2, 29}).has_value());
}

TEST(CalendarTest, SharedCopiesWorkFromManyThreads) {
  const Calendar calendar = berlin();
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([calendar, t, &wrong] {
      for (int day = 0; day < 200; ++day) {
        const Date start = calendar.addingDays(calendar.startOf({2024, 1, 1}).value(), day).value();
        if (calendar.startOfDay(start + Seconds(3600)) != start) {
          ++wrong[t];
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace vistrel
