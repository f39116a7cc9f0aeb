#include "VistrelKit/search/SearchQuery.h"

#include <algorithm>
#include <unordered_set>

#include "VistrelKit/search/TextFolding.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {
namespace {

// The words of a piece of the search text, without those of a single character.
std::vector<std::string> searchWords(std::string_view piece) {
  std::vector<std::string> words;
  TextFolding::forEachWord(piece, [&words](const TextFolding::WordView& word) {
    if (word.characters >= 2) {
      words.emplace_back(word.text);
    }
    return true;
  });
  return words;
}

void appendUnique(std::vector<std::string>& list, std::unordered_set<std::string>& seen,
                  const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (seen.insert(word).second) {
      list.push_back(word);
    }
  }
}

// Whether every word begins some word of the text; reads the text only as far as needed.
bool allWordsBegin(std::string_view text, const std::vector<std::string>& words) {
  std::vector<bool> found(words.size(), false);
  std::size_t missing = words.size();
  if (missing == 0) {
    return true;
  }
  TextFolding::forEachWord(text, [&](const TextFolding::WordView& word) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (!found[i] && word.startsWith(words[i])) {
        found[i] = true;
        --missing;
      }
    }
    return missing > 0;
  });
  return missing == 0;
}

bool phraseStartsAt(const TextFolding::FoldedWords& text, std::size_t start,
                    const std::vector<std::string>& phrase) {
  const std::size_t last = phrase.size() - 1;
  for (std::size_t j = 0; j < last; ++j) {
    if (text.word(start + j).text != phrase[j]) {
      return false;
    }
  }
  return text.word(start + last).startsWith(phrase[last]);
}

bool containsPhrase(const TextFolding::FoldedWords& text, const std::vector<std::string>& phrase) {
  if (phrase.empty()) {
    return true;
  }
  for (std::size_t start = 0; start + phrase.size() <= text.words.size(); ++start) {
    if (phraseStartsAt(text, start, phrase)) {
      return true;
    }
  }
  return false;
}

}  // namespace

SearchQuery SearchQuery::parse(std::string_view text) {
  SearchQuery query;
  std::vector<std::string> typedWords;
  bool insideQuotes = false;
  while (true) {
    const std::size_t quote = text.find('"');
    std::vector<std::string> words = searchWords(text.substr(0, quote));
    if (insideQuotes && words.size() >= 2) {
      query.phrases.push_back(std::move(words));
    } else {
      typedWords.insert(typedWords.end(), words.begin(), words.end());
    }
    if (quote == std::string_view::npos) {
      break;
    }
    text.remove_prefix(quote + 1);
    insideQuotes = !insideQuotes;
  }
  std::unordered_set<std::string> seen;
  appendUnique(query.words, seen, typedWords);
  return query;
}

std::vector<std::string> SearchQuery::allWords() const {
  std::vector<std::string> result;
  std::unordered_set<std::string> seen;
  appendUnique(result, seen, words);
  for (const std::vector<std::string>& phrase : phrases) {
    appendUnique(result, seen, phrase);
  }
  return result;
}

std::string SearchQuery::matchExpression(const TokenFunction& token) const {
  std::string expression;
  for (const std::string& word : allWords()) {
    if (!expression.empty()) {
      expression += " AND ";
    }
    expression += '"';
    expression += token(TextIndex::queryTerm(word));
    expression += '"';
  }
  return expression;
}

bool SearchQuery::matches(std::string_view text, const std::vector<std::string>& words,
                          const std::vector<std::vector<std::string>>& phrases) {
  if (!allWordsBegin(text, words)) {
    return false;
  }
  if (phrases.empty()) {
    return true;
  }
  const TextFolding::FoldedWords folded = TextFolding::foldWords(text);
  return std::all_of(phrases.begin(), phrases.end(), [&](const std::vector<std::string>& phrase) {
    return containsPhrase(folded, phrase);
  });
}

}  // namespace vistrel
