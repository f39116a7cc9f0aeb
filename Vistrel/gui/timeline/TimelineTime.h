#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"

namespace vistrel {

// The timeline's reading of times: hours and days in the model's calendar, so that a frame is
// counted in the same day and hour that the library filed it under, written in the user's
// locale. Main thread only (the locale is the system's).
class TimelineTime {
 public:
  explicit TimelineTime(const Calendar& calendar);

  QDateTime local(Date date) const;
  QDate day(Date date) const { return local(date).date(); }
  int hour(Date date) const { return local(date).time().hour(); }

  // Hour `hour`:00 of that day; across a skipped hour the next time that exists.
  QDateTime atHour(QDate day, int hour) const;

  QString fullDate(Date date) const;
  QString shortTime(const QDateTime& time) const;
  // The locale's time with seconds.
  QString standardTime(Date date) const;

 private:
  QTimeZone zone_;
};

}  // namespace vistrel
