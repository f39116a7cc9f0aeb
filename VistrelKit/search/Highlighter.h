#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "VistrelKit/search/SearchQuery.h"
#include "VistrelKit/search/TextLine.h"

// Which parts of recognized text a query marks: for the result list (character ranges of a line)
// and for the frame view (boxes over the image). Pure functions, safe on any thread.
namespace vistrel::Highlighter {

// Characters [start, end) of the original, unnormalized text: offsets count user-perceived
// characters (extended grapheme clusters), not bytes or UTF-16 units, so a character made of
// several scalars (é as e + accent, a family emoji) advances them by one.
// TextIndex::characterBoundaries turns them into byte offsets.
struct CharacterRange {
  std::size_t start = 0;
  std::size_t end = 0;

  friend bool operator==(const CharacterRange&, const CharacterRange&) = default;
};

// A rectangle in a line's normalized top-left coordinates (see TextLine).
struct Box {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;

  friend bool operator==(const Box&, const Box&) = default;
};

// Sorted, non-overlapping ranges of the text where a query word begins a word, each extended to
// the end of that word. Occurrences inside a word do not count. The comparison folds case,
// diacritics and width, as normalization does.
std::vector<CharacterRange> ranges(std::string_view text, const std::vector<std::string>& words,
                                   const std::vector<std::vector<std::string>>& phrases);

// Indexes, ascending, of the lines with at least one range; empty for an empty query.
std::vector<int> linesMatching(const std::vector<TextLine>& lines,
                               const std::vector<std::string>& words,
                               const std::vector<std::vector<std::string>>& phrases);

// One box per range of every line, in line order, taking the characters of a line to be equally
// wide: a range of m characters after s characters of an n-character line covers the fraction
// s/n to (s + m)/n of the line's width.
std::vector<Box> highlightBoxes(const std::vector<TextLine>& lines,
                                const std::vector<std::string>& words,
                                const std::vector<std::vector<std::string>>& phrases);

inline std::vector<CharacterRange> ranges(std::string_view text, const SearchQuery& query) {
  return ranges(text, query.words, query.phrases);
}

inline std::vector<int> linesMatching(const std::vector<TextLine>& lines,
                                      const SearchQuery& query) {
  return linesMatching(lines, query.words, query.phrases);
}

inline std::vector<Box> highlightBoxes(const std::vector<TextLine>& lines,
                                       const SearchQuery& query) {
  return highlightBoxes(lines, query.words, query.phrases);
}

}  // namespace vistrel::Highlighter
