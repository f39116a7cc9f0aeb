// The search field takes any text the user types or pastes, and the recognized text it is tested
// against can be anything on a screen. Parsing, matching and highlighting are total functions.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/search/SearchQuery.h"
#include "VistrelKit/search/TextIndex.h"
#include "VistrelKit/search/TextLine.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

namespace {

constexpr std::string_view fixedText =
    "Re: Invoice #4471 \xE2\x80\x94 Caf\xC3\xA9 \xEF\xBC\xA3\xEF\xBD\x81\xEF\xBD\x86\xC3\xA9\n"
    "e\xCC\x81t\xC3\xA9 don't \xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9 \xC2\xBD 12,50 "
    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5\xE6\x9C\xAC\n\nEditor";

void checkRanges(std::string_view text, const SearchQuery& query) {
  const auto ranges = Highlighter::ranges(text, query);
  const std::size_t count = TextIndex::characterCount(text);
  std::size_t previousEnd = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    FUZZ_CHECK(ranges[i].start < ranges[i].end);
    FUZZ_CHECK(ranges[i].end <= count);
    if (i > 0)
      FUZZ_CHECK(ranges[i].start > previousEnd);
    previousEnd = ranges[i].end;
  }
  if (query.isEmpty())
    FUZZ_CHECK(ranges.empty());
}

void checkQuery(const SearchQuery& query) {
  for (const std::string& word : query.words)
    FUZZ_CHECK(TextIndex::characterCount(word) >= 2);
  for (const auto& phrase : query.phrases)
    FUZZ_CHECK(phrase.size() >= 2);
  const std::string expression =
      query.matchExpression([](std::string_view) { return std::string(16, 'a'); });
  FUZZ_CHECK(expression.empty() == query.isEmpty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The input as what the user typed.
  const SearchQuery query = SearchQuery::parse(input);
  checkQuery(query);
  (void)query.matches(fixedText);
  checkRanges(fixedText, query);

  // The input as what was on the screen, searched by a fixed query and by itself.
  const SearchQuery fixedQuery = SearchQuery::parse("invo \"caf et\" 44 \xE6\x97\xA5");
  (void)fixedQuery.matches(input);
  checkRanges(input, fixedQuery);
  checkRanges(input, query);

  std::vector<TextLine> lines;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos)
      end = input.size();
    lines.push_back(TextLine{std::string(input.substr(start, end - start)), 0.1, 0.2, 0.5, 0.05});
    start = end + 1;
  }
  for (int index : Highlighter::linesMatching(lines, query))
    FUZZ_CHECK(index >= 0 && static_cast<std::size_t>(index) < lines.size());
  for (const Highlighter::Box& box : Highlighter::highlightBoxes(lines, query)) {
    FUZZ_CHECK(box.x >= 0.1 - 1e-9 && box.x + box.w <= 0.6 + 1e-9);
    FUZZ_CHECK(box.w > 0);
  }

  // Whatever the text, its words and index terms are well formed.
  for (const std::string& word : TextIndex::splitWords(input))
    FUZZ_CHECK(!word.empty());
  // Counted on their own: after the colon, a word that begins with a combining mark would join it.
  const std::vector<std::string> terms = TextIndex::indexTerms(input);
  for (const std::string& term : terms) {
    FUZZ_CHECK(term.rfind("p:", 0) == 0);
    const std::size_t characters = TextIndex::characterCount(std::string_view(term).substr(2));
    FUZZ_CHECK(characters >= 2 && characters <= TextIndex::prefixLimit);
  }
  // A word typed as it was read is looked up by a term the frame was indexed under.
  for (const std::string& word : TextIndex::splitWords(input)) {
    if (TextIndex::characterCount(word) >= 2)
      FUZZ_CHECK(std::find(terms.begin(), terms.end(), TextIndex::queryTerm(word)) != terms.end());
  }
  const auto boundaries = TextIndex::characterBoundaries(input);
  FUZZ_CHECK(!boundaries.empty() && boundaries.front() == 0 && boundaries.back() == input.size());
  return 0;
}
