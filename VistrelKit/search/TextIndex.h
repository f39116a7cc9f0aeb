#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How text becomes words and index terms. The full-text index only ever sees keyed tokens of
// terms: "p:" followed by the first 2 to 6 characters of a word (so "invo" finds "Invoice").
//
// A character is a user-perceived character (an extended grapheme cluster); every count and
// prefix here is in characters. Texts are UTF-8; malformed bytes read as U+FFFD, a separator.
// Pure functions, safe on any thread.
namespace vistrel::TextIndex {

// The longest word beginning, in characters, that is indexed or looked up.
inline constexpr std::size_t prefixLimit = 6;

// Case, diacritics and character width folded, then lowercased ("Ｃａｆé" → "cafe").
std::string normalize(std::string_view text);

// The maximal runs of word characters (letters and numbers) of the normalized text, in order,
// duplicates kept: "Invoice #4471 — Café" → invoice, 4471, cafe.
std::vector<std::string> splitWords(std::string_view text);

// The index terms of every word of two or more characters: a set, listed without duplicates in
// the order of the words they first come from.
std::vector<std::string> indexTerms(std::string_view text);

// The one term a (normalized) query word is looked up by: "p:" and its first six characters.
std::string queryTerm(std::string_view word);

// The number of characters of a text.
std::size_t characterCount(std::string_view text);

// Byte offsets of the character boundaries of a text: 0 and the end of every character, so
// character i spans bytes [result[i], result[i + 1]). Turns character offsets into byte offsets.
std::vector<std::size_t> characterBoundaries(std::string_view text);

}  // namespace vistrel::TextIndex
