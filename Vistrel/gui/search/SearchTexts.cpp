#include "Vistrel/gui/search/SearchTexts.h"

#include "Vistrel/model/AppModel.h"

namespace vistrel {

QString searchSummary(bool libraryOpen, const SearchQuery& searched, std::int64_t hits,
                      std::int64_t savedFrames, const QLocale& locale) {
  if (!libraryOpen)
    return QStringLiteral("No history yet");
  if (searched.isEmpty()) {
    // The C locale leaves out group separators unless asked for them.
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return QStringLiteral("The latest %1 frames \u00B7 %2 saved")
        .arg(hits)
        .arg(grouped.toString(qlonglong(savedFrames)));
  }
  const QString count = hits == AppModel::searchLimit ? QString::number(hits) + QLatin1Char('+')
                                                      : QString::number(hits);
  return count + (hits == 1 ? QStringLiteral(" frame match") : QStringLiteral(" frames match"));
}

QString dateRangeLabel(DateRange range) {
  switch (range) {
    case DateRange::today:
      return QStringLiteral("Today");
    case DateRange::week:
      return QStringLiteral("Last 7 days");
    case DateRange::month:
      return QStringLiteral("Last 30 days");
    case DateRange::all:
      return QStringLiteral("Any time");
  }
  return {};
}

QString appEntryLabel(const AppEntry& app) {
  return QString::fromStdString(app.name) + QStringLiteral(" (") + QString::number(app.count) +
         QLatin1Char(')');
}

}  // namespace vistrel
