#include "Vistrel/gui/storage/StorageFormat.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

namespace vistrel {

QString dayChoiceText(int days) {
  return days == 1 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(days);
}

QString capChoiceText(double gigabytes) {
  return QStringLiteral("%1 GB").arg(static_cast<long long>(std::floor(gigabytes)));
}

QString groupedNumber(std::int64_t value) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale.toString(static_cast<qlonglong>(value));
}

QString byteCount(std::int64_t bytes) {
  return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString monthAndDay(std::optional<Date> date) {
  if (!date)
    return QStringLiteral("\u2013");
  const auto milliseconds = static_cast<qint64>(std::floor(secondsSince1970(*date) * 1000));
  const QDate day = QDateTime::fromMSecsSinceEpoch(milliseconds).date();
  return QLocale().toString(day, QStringLiteral("MMM d"));
}

QString deleteEverythingMessage(std::int64_t frames) {
  return QStringLiteral(
             "All %1 frames and the encryption key are removed. This can\u2019t be undone.")
      .arg(groupedNumber(frames));
}

QString abbreviatedPath(const std::filesystem::path& path,
                        const std::vector<std::filesystem::path>& homes) {
  const std::string text = path.lexically_normal().string();
  std::size_t best = 0;
  for (const std::filesystem::path& home : homes) {
    std::string prefix = home.lexically_normal().string();
    while (prefix.size() > 1 && prefix.back() == '/')
      prefix.pop_back();
    if (prefix.empty() || prefix == "/" || text.compare(0, prefix.size(), prefix) != 0)
      continue;
    const bool wholeFolder = text.size() == prefix.size() || text[prefix.size()] == '/';
    if (wholeFolder && prefix.size() > best)
      best = prefix.size();
  }
  if (best == 0)
    return QString::fromStdString(text);
  return QStringLiteral("~") + QString::fromStdString(text.substr(best));
}

}  // namespace vistrel
