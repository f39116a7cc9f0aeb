#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include "VistrelKit/base/Date.h"

namespace vistrel {

// How a list of frames names a capture time: the short time alone today, "Yesterday " and the
// short time the day before, else abbreviated month, day and short time. Days are those of the
// local time zone of `now`.
QString momentLabel(Date date, const QDateTime& now = QDateTime::currentDateTime(),
                    const QLocale& locale = QLocale());

// Hour and minute in the locale's short format, with its day period ("2:05 PM") where it has one,
// and without the seconds that some locales' short format (C among them) has.
QString hourAndMinute(const QTime& time, const QLocale& locale = QLocale());

// A capture time in full: the long date and the time with seconds.
QString fullDateTime(Date date, const QLocale& locale = QLocale());

}  // namespace vistrel
