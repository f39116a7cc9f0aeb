#include "VistrelKit/TextIndex.h"

#include <algorithm>
#include <unordered_set>

#include "VistrelKit/TextFolding.h"

namespace vistrel::TextIndex {
namespace {

constexpr std::string_view termPrefix = "p:";

std::string term(std::string_view beginning) {
  std::string result;
  result.reserve(termPrefix.size() + beginning.size());
  result.append(termPrefix).append(beginning);
  return result;
}

}  // namespace

std::string normalize(std::string_view text) {
  return TextFolding::fold(text);
}

std::vector<std::string> splitWords(std::string_view text) {
  const TextFolding::FoldedWords folded = TextFolding::foldWords(text);
  std::vector<std::string> words;
  words.reserve(folded.words.size());
  for (std::size_t i = 0; i < folded.words.size(); ++i) {
    words.emplace_back(folded.word(i));
  }
  return words;
}

std::vector<std::string> indexTerms(std::string_view text) {
  const TextFolding::FoldedWords folded = TextFolding::foldWords(text);
  // Words sharing their first six characters give the same terms: handle each beginning once.
  std::unordered_set<std::string_view> beginnings;
  beginnings.reserve(folded.words.size());
  std::vector<std::string> terms;
  for (std::size_t i = 0; i < folded.words.size(); ++i) {
    const std::size_t length = std::min<std::size_t>(folded.words[i].characters, prefixLimit);
    if (length < 2 || !beginnings.insert(folded.wordPrefix(i, length)).second) {
      continue;
    }
    for (std::size_t k = 2; k <= length; ++k) {
      terms.push_back(term(folded.wordPrefix(i, k)));
    }
  }
  std::sort(terms.begin(), terms.end());
  terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
  return terms;
}

std::string queryTerm(std::string_view word) {
  const std::vector<std::size_t> boundaries = TextFolding::characterBoundaries(word);
  const std::size_t characters = boundaries.size() - 1;
  return term(word.substr(0, boundaries[std::min(characters, prefixLimit)]));
}

std::size_t characterCount(std::string_view text) {
  return TextFolding::characterBoundaries(text).size() - 1;
}

std::vector<std::size_t> characterBoundaries(std::string_view text) {
  return TextFolding::characterBoundaries(text);
}

}  // namespace vistrel::TextIndex
