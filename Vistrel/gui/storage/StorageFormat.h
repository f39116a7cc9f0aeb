#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "VistrelKit/base/Date.h"

namespace vistrel {

// The retention and disk-cap choices the Storage pane offers.
inline const std::vector<int> dayChoices{1, 3, 7, 14, 30, 60, 90};
inline const std::vector<double> capChoices{1, 2, 5, 10, 20, 50};

// "1 day", "N days".
QString dayChoiceText(int days);
// "N GB", N the whole number of gigabytes.
QString capChoiceText(double gigabytes);

// A count with the locale's group separators, also where the locale omits them by default
// (the C locale): "12,345".
QString groupedNumber(std::int64_t value);
// A byte count as file sizes are shown: decimal units, "0 bytes", "12.3 MB".
QString byteCount(std::int64_t bytes);
// The local date's abbreviated month and day ("Mar 4"), or "–" when there is none.
QString monthAndDay(std::optional<Date> date);

// The delete-everything confirmation's message.
QString deleteEverythingMessage(std::int64_t frames);

// The path with a leading home folder written "~". Only a whole leading home counts:
// "/home/ann" is not the home of "/home/anna/x". Of several homes the longest that fits wins.
QString abbreviatedPath(const std::filesystem::path& path,
                        const std::vector<std::filesystem::path>& homes);

}  // namespace vistrel
