#pragma once

#include <chrono>

namespace vistrel {

// A point in time with sub-second precision. The database keeps it as seconds since
// 1970-01-01 00:00 UTC in a REAL column; the settings file as seconds since 2001-01-01 UTC.
using Seconds = std::chrono::duration<double>;
using Date = std::chrono::time_point<std::chrono::system_clock, Seconds>;

inline double secondsSince1970(Date date) { return date.time_since_epoch().count(); }

inline Date dateFromSeconds1970(double seconds) { return Date(Seconds(seconds)); }

inline Date now() { return std::chrono::time_point_cast<Seconds>(std::chrono::system_clock::now()); }

// 2001-01-01 00:00 UTC, the reference date of the settings file's dates.
inline constexpr double referenceDate2001 = 978307200.0;

inline double secondsSince2001(Date date) { return secondsSince1970(date) - referenceDate2001; }

inline Date dateFromSeconds2001(double seconds) {
  return dateFromSeconds1970(seconds + referenceDate2001);
}

}  // namespace vistrel
