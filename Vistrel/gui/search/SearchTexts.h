#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "VistrelKit/base/DateRange.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/search/SearchQuery.h"

namespace vistrel {

// The line above the results: "No history yet" without a library; for an empty query "The
// latest N frames · M saved" (M grouped as the locale does); otherwise "1 frame match",
// "12 frames match", or "150+ frames match" when the search's limit was reached.
QString searchSummary(bool libraryOpen, const SearchQuery& searched, std::int64_t hits,
                      std::int64_t savedFrames, const QLocale& locale = QLocale());

// The time picker's labels, in the order of DateRange.
QString dateRangeLabel(DateRange range);

// An entry of the application picker: "Name (count)".
QString appEntryLabel(const AppEntry& app);

}  // namespace vistrel
