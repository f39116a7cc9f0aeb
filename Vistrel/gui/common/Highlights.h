#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <string>

#include "VistrelKit/search/SearchQuery.h"

namespace vistrel {

// A highlighted span of a QString, in UTF-16 positions.
struct TextSpan {
  int start = 0;
  int length = 0;

  friend bool operator==(const TextSpan&, const TextSpan&) = default;
};

// The spans the query's words and phrases mark in the text (the search's own rule: a word
// matches from the start of a word to its end), converted from characters to UTF-16 positions.
QList<TextSpan> highlightSpans(const std::string& text, const SearchQuery& query);

// The text as rich text with those spans on a yellow background at opacity 0.45, in semibold.
QString highlightedHtml(const std::string& text, const SearchQuery& query);

// The colour of a highlighted span, and of a row that holds a match.
QColor spanColour();
QColor matchingRowColour();

}  // namespace vistrel
