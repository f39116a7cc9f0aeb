#include "Vistrel/gui/common/MomentLabel.h"

#include <QTimeZone>

namespace vistrel {
namespace {

QDateTime toDateTime(Date date, const QTimeZone& zone) {
  return QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(date) * 1000.0), zone);
}

// The locale's short time format, with the abbreviated day period ("2:05 PM") where it has one.
QString shortTime(const QTime& time, const QLocale& locale) {
  return locale.toString(time, QLocale::ShortFormat);
}

}  // namespace

QString momentLabel(Date date, const QDateTime& now, const QLocale& locale) {
  const QDateTime moment = toDateTime(date, now.timeZone());
  const QDate day = moment.date();
  const QDate today = now.date();
  if (day == today)
    return shortTime(moment.time(), locale);
  if (day == today.addDays(-1))
    return QStringLiteral("Yesterday ") + shortTime(moment.time(), locale);
  return locale.toString(day, QStringLiteral("MMM d")) + QLatin1Char(' ') +
         shortTime(moment.time(), locale);
}

QString fullDateTime(Date date, const QLocale& locale) {
  const QDateTime moment = toDateTime(date, QTimeZone::systemTimeZone());
  return locale.toString(moment.date(), QLocale::LongFormat) + QLatin1Char(' ') +
         locale.toString(moment.time(), QLocale::LongFormat);
}

}  // namespace vistrel
