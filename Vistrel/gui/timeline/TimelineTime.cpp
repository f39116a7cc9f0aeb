#include "Vistrel/gui/timeline/TimelineTime.h"

#include <QLocale>
#include <QTime>
#include <cmath>

#include "Vistrel/gui/common/MomentLabel.h"

namespace vistrel {

TimelineTime::TimelineTime(const Calendar& calendar)
    : zone_(QByteArray::fromStdString(calendar.zoneID())) {
  if (!zone_.isValid())
    zone_ = QTimeZone::systemTimeZone();
}

QDateTime TimelineTime::local(Date date) const {
  const double milliseconds = std::floor(secondsSince1970(date) * 1000);
  return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds), zone_);
}

QDateTime TimelineTime::atHour(QDate day, int hour) const {
  // Qt moves a time inside a skipped hour forward by the length of the gap and picks the first
  // of two repeated times, which is the hour the label should name.
  return QDateTime(day, QTime(hour, 0), zone_);
}

QString TimelineTime::fullDate(Date date) const {
  return QLocale::system().toString(day(date), QLocale::LongFormat);
}

QString TimelineTime::shortTime(const QDateTime& time) const {
  return hourAndMinute(time.time(), QLocale::system());
}

QString TimelineTime::standardTime(Date date) const {
  // Most locales' short format has no seconds; frames a few seconds apart need them.
  QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1Char('s')))
    format.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
  return QLocale::system().toString(local(date).time(), format);
}

}  // namespace vistrel
