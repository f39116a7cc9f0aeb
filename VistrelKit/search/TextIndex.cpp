#include "VistrelKit/search/TextIndex.h"

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "VistrelKit/search/TextFolding.h"

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
  std::vector<std::string> words;
  TextFolding::forEachWord(text, [&words](const TextFolding::WordView& word) {
    words.emplace_back(word.text);
    return true;
  });
  return words;
}

std::vector<std::string> indexTerms(std::string_view text) {
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using StringSet = std::unordered_set<std::string, Hash, std::equal_to<>>;
  // Words sharing their first six characters give the same terms: handle each beginning once.
  StringSet beginnings;
  StringSet seen;
  std::vector<std::string> terms;
  TextFolding::forEachWord(text, [&](const TextFolding::WordView& word) {
    const std::size_t length = std::min(word.characters, prefixLimit);
    if (length < 2) {
      return true;
    }
    const std::string_view beginning = word.prefix(length);
    if (beginnings.find(beginning) != beginnings.end()) {
      return true;
    }
    beginnings.emplace(beginning);
    for (std::size_t k = 2; k <= length; ++k) {
      std::string candidate = term(word.prefix(k));
      if (seen.insert(candidate).second) {
        terms.push_back(std::move(candidate));
      }
    }
    return true;
  });
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
