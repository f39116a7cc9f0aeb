#include "Vistrel/gui/common/MomentLabel.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace vistrel {
namespace {

QDateTime toDateTime(Date date, const QTimeZone& zone) {
  return QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(date) * 1000.0), zone);
}

}  // namespace

QString hourAndMinute(const QTime& time, const QLocale& locale) {
  static const QRegularExpression seconds(QStringLiteral("[:.]?s+"));
  QString format = locale.timeFormat(QLocale::ShortFormat);
  format.remove(seconds);
  return locale.toString(time, format);
}

QString momentLabel(Date date, const QDateTime& now, const QLocale& locale) {
  const QDateTime moment = toDateTime(date, now.timeZone());
  const QDate day = moment.date();
  const QDate today = now.date();
  if (day == today)
    return hourAndMinute(moment.time(), locale);
  if (day == today.addDays(-1))
    return QStringLiteral("Yesterday ") + hourAndMinute(moment.time(), locale);
  return locale.toString(day, QStringLiteral("MMM d")) + QLatin1Char(' ') +
         hourAndMinute(moment.time(), locale);
}

QString fullDateTime(Date date, const QLocale& locale) {
  const QDateTime moment = toDateTime(date, QTimeZone::systemTimeZone());
  // The long time format with seconds, without the time zone's name.
  static const QRegularExpression zone(QStringLiteral("\\s*t+"));
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(zone);
  return locale.toString(moment.date(), QLocale::LongFormat) + QLatin1Char(' ') +
         locale.toString(moment.time(), timeFormat.trimmed());
}

}  // namespace vistrel
