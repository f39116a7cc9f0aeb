#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

// What the search field asks for: words that must each begin some word of a frame's text, in any
// order, and quoted phrases whose words must follow each other. Words are normalized
// (TextIndex::normalize) and at least two characters long. A plain value.
struct SearchQuery {
  std::vector<std::string> words;                 // no duplicates, in order of first appearance
  std::vector<std::vector<std::string>> phrases;  // two or more words each, in the order typed

  // Only the ASCII double quote starts or ends a phrase; an unmatched one quotes the rest.
  static SearchQuery parse(std::string_view text);

  // No text condition at all: the library then lists frames by time.
  bool isEmpty() const { return words.empty() && phrases.empty(); }

  // `words`, then the words of every phrase, each once (first occurrence kept).
  std::vector<std::string> allWords() const;

  // The string for "frame_index MATCH ?": the token of every word's queryTerm, each in double
  // quotes, joined with " AND ". Empty for an empty query, which must not be bound.
  using TokenFunction = std::function<std::string(std::string_view term)>;
  std::string matchExpression(const TokenFunction& token) const;

  // The exact test of a candidate's (decrypted) index text: every word begins some word of the
  // text, character-wise, and in every phrase all words but the last are consecutive whole words of
  // the text and the last begins the word after them ("invoice 44" matches "Invoice #4471").
  static bool matches(std::string_view text, const std::vector<std::string>& words,
                      const std::vector<std::vector<std::string>>& phrases);
  bool matches(std::string_view text) const { return matches(text, words, phrases); }

  friend bool operator==(const SearchQuery&, const SearchQuery&) = default;
};

}  // namespace vistrel
