#include "VistrelKit/search/Highlighter.h"

#include <algorithm>
#include <optional>

#include "VistrelKit/search/TextFolding.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel::Highlighter {
namespace {

using TextFolding::FoldedCharacters;

// The query's words, folded again in case a caller passes them as typed; empty ones find nothing.
std::vector<std::string> needlesOf(const std::vector<std::string>& words,
                                   const std::vector<std::vector<std::string>>& phrases) {
  std::vector<std::string> needles;
  for (const std::string& word : SearchQuery{words, phrases}.allWords()) {
    std::string needle = TextIndex::normalize(word);
    if (!needle.empty()) {
      needles.push_back(std::move(needle));
    }
  }
  return needles;
}

// The last character whose folded form starts at `offset`: the first one that has content there.
std::optional<std::size_t> characterStartingAt(const FoldedCharacters& text, std::size_t offset) {
  const auto begin = text.foldedStart.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(text.count());
  const auto after = std::upper_bound(begin, end, offset);
  if (after == begin || *(after - 1) != offset) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(after - 1 - begin);
}

// The first character whose folded form starts at `offset` (the count when that is the end).
std::optional<std::size_t> characterEndingBefore(const FoldedCharacters& text, std::size_t offset) {
  const auto begin = text.foldedStart.begin();
  const auto found = std::lower_bound(begin, text.foldedStart.end(), offset);
  if (found == text.foldedStart.end() || *found != offset) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - begin);
}

void collectRanges(const FoldedCharacters& text, std::string_view needle,
                   std::vector<CharacterRange>& found) {
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.folded.find(needle, from);
    if (at == std::string::npos) {
      return;
    }
    const std::optional<std::size_t> start = characterStartingAt(text, at);
    const std::optional<std::size_t> end = characterEndingBefore(text, at + needle.size());
    if (!start || !end) {
      from = at + 1;  // the needle matched only part of a character
      continue;
    }
    std::size_t stop = *end;
    if (*start > 0 && text.isWordCharacter[*start - 1]) {
      from = text.foldedStart[stop];  // inside a word
      continue;
    }
    while (stop < text.count() && text.isWordCharacter[stop]) {
      ++stop;
    }
    found.push_back({*start, stop});
    from = text.foldedStart[stop];
  }
}

std::vector<CharacterRange> rangesOf(const FoldedCharacters& text,
                                     const std::vector<std::string>& needles) {
  std::vector<CharacterRange> found;
  if (text.count() == 0) {
    return found;
  }
  for (const std::string& needle : needles) {
    collectRanges(text, needle, found);
  }
  std::stable_sort(
      found.begin(), found.end(),
      [](const CharacterRange& a, const CharacterRange& b) { return a.start < b.start; });
  std::vector<CharacterRange> merged;
  for (const CharacterRange& range : found) {
    if (!merged.empty() && range.start <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, range.end);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

}  // namespace

std::vector<CharacterRange> ranges(std::string_view text, const std::vector<std::string>& words,
                                   const std::vector<std::vector<std::string>>& phrases) {
  if (text.empty() || (words.empty() && phrases.empty())) {
    return {};
  }
  return rangesOf(TextFolding::foldCharacters(text), needlesOf(words, phrases));
}

std::vector<int> linesMatching(const std::vector<TextLine>& lines,
                               const std::vector<std::string>& words,
                               const std::vector<std::vector<std::string>>& phrases) {
  std::vector<int> matching;
  if (words.empty() && phrases.empty()) {
    return matching;
  }
  const std::vector<std::string> needles = needlesOf(words, phrases);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].text.empty() &&
        !rangesOf(TextFolding::foldCharacters(lines[i].text), needles).empty()) {
      matching.push_back(static_cast<int>(i));
    }
  }
  return matching;
}

std::vector<Box> highlightBoxes(const std::vector<TextLine>& lines,
                                const std::vector<std::string>& words,
                                const std::vector<std::vector<std::string>>& phrases) {
  std::vector<Box> boxes;
  if (words.empty() && phrases.empty()) {
    return boxes;
  }
  const std::vector<std::string> needles = needlesOf(words, phrases);
  for (const TextLine& line : lines) {
    if (line.text.empty()) {
      continue;
    }
    const FoldedCharacters text = TextFolding::foldCharacters(line.text);
    const double n = static_cast<double>(std::max<std::size_t>(text.count(), 1));
    for (const CharacterRange& range : rangesOf(text, needles)) {
      const double s = static_cast<double>(range.start);
      const double m = static_cast<double>(range.end - range.start);
      boxes.push_back({line.x + line.w * s / n, line.y, line.w * m / n, line.h});
    }
  }
  return boxes;
}

}  // namespace vistrel::Highlighter
