#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The Unicode machinery under TextIndex, SearchQuery and Highlighter: folding, user-perceived
// characters (extended grapheme clusters) and word characters. Pure functions; every function may
// run on any thread (ICU objects are cached per thread).
//
// Input is UTF-8; malformed sequences are read as U+FFFD (a separator, never part of a word).
namespace vistrel::TextFolding {

// ICU could not provide its Unicode data (normalizers, character break rules): a broken
// installation, never a property of the text.
class UnicodeDataError : public std::runtime_error {
 public:
  UnicodeDataError() : std::runtime_error("The Unicode data of this system could not be loaded.") {}
};

// One word of a folded text, as handed to a word callback: valid only during the call.
struct WordView {
  std::string_view text;                         // the folded word
  const std::uint32_t* characterEnds = nullptr;  // byte end of each character; null when every
                                                 // character is a single byte
  std::size_t characters = 0;

  // The first `count` characters (all of the word when shorter).
  std::string_view prefix(std::size_t count) const;

  // Whether `prefix` (folded) is a character-wise prefix: a byte prefix that ends on a character
  // boundary, so "क" is not a prefix of the one-character word "कि".
  bool startsWith(std::string_view prefix) const;
};

// The words of a folded text, kept: for callers that need them more than once or in sequence.
struct FoldedWords {
  struct Word {
    std::uint32_t begin = 0;       // byte offset into `text`
    std::uint32_t end = 0;         // byte offset into `text`, exclusive
    std::uint32_t firstEnd = 0;    // index into `characterEnds` of its first character's end
    std::uint32_t characters = 0;  // number of characters in the word
  };

  std::string text;  // the words' folded characters, back to back
  // Byte end, relative to the word, of every character of the words with a character of several
  // bytes; a word of single-byte characters only (characters == end - begin) records none.
  std::vector<std::uint32_t> characterEnds;
  std::vector<Word> words;

  WordView word(std::size_t index) const;
};

// The characters of an unfolded text, each with its folded form, for case-, diacritic- and
// width-insensitive searching whose results are offsets into the original text.
struct FoldedCharacters {
  std::string folded;                      // the folded characters, concatenated
  std::vector<std::uint32_t> foldedStart;  // per character its offset into `folded`; plus the end
  std::vector<bool> isWordCharacter;       // per character, judged on the original character

  std::size_t count() const { return isWordCharacter.size(); }
};

// Folds case, diacritics and character width, then lowercases (details beside the implementation).
std::string fold(std::string_view text);

// The same folding without the shortcut for ASCII stretches: slow, kept as the reference the
// shortcut is checked against.
std::string foldWithoutShortcut(std::string_view text);

// Calls onWord for every word of the folded text (maximal runs of word characters), in order,
// until it returns false.
void forEachWord(std::string_view text, const std::function<bool(const WordView&)>& onWord);

FoldedWords foldWords(std::string_view text);

FoldedCharacters foldCharacters(std::string_view text);

// Byte offsets of the character boundaries of a text: 0, the end of every character, so the
// result has one entry more than the text has characters.
std::vector<std::size_t> characterBoundaries(std::string_view text);

}  // namespace vistrel::TextFolding
