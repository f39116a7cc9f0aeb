#include "Vistrel/gui/common/Highlights.h"

#include <QColor>
#include <QTextBoundaryFinder>
#include <vector>

#include "VistrelKit/search/Highlighter.h"

namespace vistrel {
namespace {

// UTF-16 position of every character boundary: entry i is where character i begins.
std::vector<int> characterStarts(const QString& text) {
  std::vector<int> starts{0};
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  while (finder.toNextBoundary() > 0)
    starts.push_back(int(finder.position()));
  return starts;
}

}  // namespace

QList<TextSpan> highlightSpans(const std::string& text, const SearchQuery& query) {
  QList<TextSpan> spans;
  if (query.isEmpty())
    return spans;
  const QString shown = QString::fromStdString(text);
  const std::vector<int> starts = characterStarts(shown);
  const auto position = [&](std::size_t character) {
    return character < starts.size() ? starts[character] : int(shown.size());
  };
  for (const Highlighter::CharacterRange& range : Highlighter::ranges(text, query)) {
    const int start = position(range.start);
    const int end = position(range.end);
    if (end > start)
      spans.append(TextSpan{start, end - start});
  }
  return spans;
}

QString highlightedHtml(const std::string& text, const SearchQuery& query) {
  const QString shown = QString::fromStdString(text);
  const QString open = QStringLiteral("<span style=\"background-color: %1; font-weight: 600\">")
                           .arg(spanColour().name(QColor::HexArgb));
  QString html;
  int at = 0;
  for (const TextSpan& span : highlightSpans(text, query)) {
    html += shown.mid(at, span.start - at).toHtmlEscaped();
    html += open + shown.mid(span.start, span.length).toHtmlEscaped() + QStringLiteral("</span>");
    at = span.start + span.length;
  }
  html += shown.mid(at).toHtmlEscaped();
  return html;
}

QColor spanColour() {
  QColor yellow(255, 214, 10);
  yellow.setAlphaF(0.45f);
  return yellow;
}

QColor matchingRowColour() {
  QColor yellow(255, 214, 10);
  yellow.setAlphaF(0.12f);
  return yellow;
}

}  // namespace vistrel
