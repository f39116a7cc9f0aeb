#include "VistrelKit/base/Calendar.h"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>

namespace vistrel {

struct Calendar::Zone {
  std::unique_ptr<icu::TimeZone> timeZone;
};

namespace {

UDate udateOf(Date date) {
  return secondsSince1970(date) * 1000.0;
}

Date dateOf(UDate udate) {
  return dateFromSeconds1970(udate / 1000.0);
}

// ICU calendars carry mutable field state, so each operation works on its own instance.
std::unique_ptr<icu::Calendar> makeCalendar(const icu::TimeZone& zone) {
  UErrorCode status = U_ZERO_ERROR;
  auto calendar = std::make_unique<icu::GregorianCalendar>(zone, icu::Locale::getRoot(), status);
  if (U_FAILURE(status)) {
    return nullptr;
  }
  // A midnight skipped by a daylight-saving change starts its day at the change itself.
  calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
  return calendar;
}

std::unique_ptr<icu::Calendar> makeCalendarAt(const icu::TimeZone& zone, Date date) {
  auto calendar = makeCalendar(zone);
  if (!calendar || !std::isfinite(udateOf(date))) {
    return nullptr;
  }
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(udateOf(date), status);
  return U_SUCCESS(status) ? std::move(calendar) : nullptr;
}

std::optional<Date> timeOf(icu::Calendar& calendar) {
  UErrorCode status = U_ZERO_ERROR;
  const UDate udate = calendar.getTime(status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  return dateOf(udate);
}

std::optional<Calendar::Day> dayOf(icu::Calendar& calendar) {
  UErrorCode status = U_ZERO_ERROR;
  Calendar::Day day;
  day.year = calendar.get(UCAL_EXTENDED_YEAR, status);
  day.month = calendar.get(UCAL_MONTH, status) + 1;
  day.day = calendar.get(UCAL_DATE, status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  return day;
}

std::optional<Date> midnightOf(icu::Calendar& calendar, const Calendar::Day& day) {
  calendar.clear();
  calendar.set(UCAL_EXTENDED_YEAR, day.year);
  calendar.set(UCAL_MONTH, day.month - 1);
  calendar.set(UCAL_DATE, day.day);
  return timeOf(calendar);
}

}  // namespace

Calendar::Calendar(std::shared_ptr<const Zone> zone) : zone_(std::move(zone)) {}

Calendar Calendar::systemDefault() {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
  if (!zone || *zone == icu::TimeZone::getUnknown()) {
    return utc();
  }
  return Calendar(std::make_shared<const Zone>(Zone{std::move(zone)}));
}

std::optional<Calendar> Calendar::named(std::string_view zoneID) {
  const auto id = icu::UnicodeString::fromUTF8(icu::StringPiece(zoneID.data(), zoneID.size()));
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
  if (!zone || *zone == icu::TimeZone::getUnknown()) {
    return std::nullopt;
  }
  return Calendar(std::make_shared<const Zone>(Zone{std::move(zone)}));
}

Calendar Calendar::utc() {
  return Calendar(std::make_shared<const Zone>(
      Zone{std::unique_ptr<icu::TimeZone>(icu::TimeZone::getGMT()->clone())}));
}

std::string Calendar::zoneID() const {
  icu::UnicodeString id;
  zone_->timeZone->getID(id);
  std::string text;
  id.toUTF8String(text);
  return text;
}

Calendar::Day Calendar::day(Date date) const {
  auto calendar = makeCalendarAt(*zone_->timeZone, date);
  if (!calendar) {
    return Day{};
  }
  return dayOf(*calendar).value_or(Day{});
}

Date Calendar::startOfDay(Date date) const {
  auto calendar = makeCalendarAt(*zone_->timeZone, date);
  if (!calendar) {
    return date;
  }
  const auto day = dayOf(*calendar);
  if (!day) {
    return date;
  }
  return midnightOf(*calendar, *day).value_or(date);
}

std::optional<Date> Calendar::addingDays(Date date, int days) const {
  auto calendar = makeCalendarAt(*zone_->timeZone, date);
  if (!calendar) {
    return std::nullopt;
  }
  UErrorCode status = U_ZERO_ERROR;
  calendar->add(UCAL_DATE, days, status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  return timeOf(*calendar);
}

std::optional<Date> Calendar::startOf(Day day) const {
  auto calendar = makeCalendar(*zone_->timeZone);
  if (!calendar) {
    return std::nullopt;
  }
  const auto start = midnightOf(*calendar, day);
  // ICU rolls impossible dates over (February 30 becomes March 2); refuse them instead.
  if (!start || this->day(*start) != day) {
    return std::nullopt;
  }
  return start;
}

}  // namespace vistrel
