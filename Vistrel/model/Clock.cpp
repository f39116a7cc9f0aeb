#include "Vistrel/model/Clock.h"

#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace vistrel {

Date SystemClock::now() {
  return vistrel::now();
}

Calendar SystemClock::calendar() {
  // Qt reads TZ and notices a replaced /etc/localtime on every call, cheaply.
  const QByteArray zone = QTimeZone::systemTimeZoneId();
  if (!calendar_ || zone != zoneID_) {
    zoneID_ = zone;
    calendar_ = Calendar::named(zone.toStdString());
    if (!calendar_)
      calendar_ = Calendar::systemDefault();
  }
  return *calendar_;
}

void SystemClock::after(double seconds, QObject* context, std::function<void()> action) {
  const double clamped = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 86400.0) : 0.0;
  const std::chrono::milliseconds delay(std::llround(clamped * 1000));
  QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(action));
}

}  // namespace vistrel
