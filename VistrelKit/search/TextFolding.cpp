#include "VistrelKit/search/TextFolding.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <unordered_map>

namespace vistrel::TextFolding {
namespace {

// THE FOLDING. Every index term, and so every keyed token already written into a library, is
// computed from text folded by exactly these steps, in this order, with ICU 72:
//   1. width: every code point whose Decomposition_Type is Wide or Narrow is replaced by its
//      decomposition mapping (full-width Latin letters, digits and punctuation become ASCII, the
//      ideographic space a space, half-width katakana and Hangul their ordinary forms); no other
//      compatibility mapping is applied, so ligatures, superscripts and fractions stay as they are
//      here (full case folding below still splits the ligatures);
//   2. case: UnicodeString::foldCase(U_FOLD_CASE_DEFAULT), full case folding (ß → ss);
//   3. diacritics: NFD, then every code point that is a non-spacing mark (gc = Mn) with the
//      Diacritic property is dropped (accents, Hebrew and Arabic points, the kana voicing marks),
//      then NFC (Hangul and the remaining marks recompose);
//   4. lowercase with the root locale (case folding leaves Cherokee in upper case).
// Characters are ICU's extended grapheme clusters of the folded text; a character is a word
// character when its first scalar has the Alphabetic property or any Numeric_Type.
// Never change any of this, not even by upgrading to an ICU whose Unicode version moves these
// properties, without re-indexing every stored frame: a changed folding gives other terms, other
// tokens, and frames stored earlier silently stop being found.
//
// The ASCII shortcut below gives the same result, because at the boundaries it cuts at (two ASCII
// bytes that are not CR LF, or after an ASCII control) nothing composes, reorders or joins a
// character across the cut, and an ASCII character folds to its lowercase form.

struct Normalizers {
  const icu::Normalizer2* nfd;
  const icu::Normalizer2* nfc;
  const icu::Normalizer2* nfkd;
};

const Normalizers& normalizers() {
  static const Normalizers instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    Normalizers result{icu::Normalizer2::getNFDInstance(status),
                       icu::Normalizer2::getNFCInstance(status),
                       icu::Normalizer2::getNFKDInstance(status)};
    if (U_FAILURE(status)) {
      throw UnicodeDataError();
    }
    return result;
  }();
  return instance;
}

// Creating a character break iterator compiles its rules: once per thread, reused for every text.
icu::BreakIterator& characterIterator() {
  thread_local const std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !created) {
      throw UnicodeDataError();
    }
    return created;
  }();
  return *iterator;
}

struct UTextCloser {
  void operator()(UText* text) const { utext_close(text); }
};
using UTextPointer = std::unique_ptr<UText, UTextCloser>;

// A UTF-8 view for ICU whose native indexes are byte offsets into `text`.
UTextPointer openUTF8(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  UTextPointer opened(
      utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
  if (U_FAILURE(status) || !opened) {
    throw UnicodeDataError();
  }
  return opened;
}

bool isAscii(char c) {
  return static_cast<unsigned char>(c) < 0x80;
}

bool isAsciiControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool isAsciiWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isWordScalar(UChar32 scalar) {
  return u_hasBinaryProperty(scalar, UCHAR_ALPHABETIC) ||
         u_getIntPropertyValue(scalar, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isCrLf(std::string_view text, std::size_t at) {
  return text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n';
}

// Whether the text may be cut just before `at` (see the comment on the folding).
bool isCut(std::string_view text, std::size_t at) {
  const char previous = text[at - 1];
  if (!isAscii(previous) || isCrLf(text, at - 1)) {
    return false;
  }
  return isAsciiControl(previous) || isAscii(text[at]);
}

// Walks a text as runs of ASCII that take the shortcut and stretches that need ICU, cut where
// the result cannot differ from folding the whole text. A stretch is kept as short as the cuts
// allow, because short stretches (" — ", "d’s") repeat and their results are remembered.
template <typename OnAsciiRun, typename OnStretch, typename Stopped = bool (*)()>
void forEachPiece(
    std::string_view text, OnAsciiRun&& onAsciiRun, OnStretch&& onStretch,
    Stopped&& stopped = [] { return false; }) {
  std::size_t i = 0;
  while (i < text.size() && !stopped()) {
    if (isAscii(text[i])) {
      std::size_t end = i;
      while (end < text.size() && isAscii(text[end])) {
        ++end;
      }
      // The last ASCII character before other text may join it (e + combining accent).
      if (end < text.size() && !isAsciiControl(text[end - 1])) {
        --end;
      }
      if (end > i) {
        onAsciiRun(text.substr(i, end - i));
        i = end;
        continue;
      }
    }
    std::size_t end = i + 1;
    while (end < text.size() && !isCut(text, end)) {
      ++end;
    }
    onStretch(text.substr(i, end - i));
    i = end;
  }
}

// Calls onCharacter(begin, end) for every character of an ASCII run: one byte each, CR LF as one.
template <typename OnCharacter>
void forEachAsciiCharacter(std::string_view run, OnCharacter&& onCharacter) {
  for (std::size_t i = 0; i < run.size();) {
    const std::size_t length = isCrLf(run, i) ? 2 : 1;
    onCharacter(i, i + length);
    i += length;
  }
}

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

// Remembers, per thread, what ICU made of short stretches: on a screen the same few separators,
// accented words and characters come back again and again. Bounded by clearing when full.
template <typename Value>
class StretchCache {
 public:
  template <typename Compute>
  const Value& get(std::string_view stretch, Compute&& compute) {
    constexpr std::size_t longestRemembered = 64;
    constexpr std::size_t capacity = 4096;
    if (stretch.size() > longestRemembered) {
      uncached_ = compute(stretch);
      return uncached_;
    }
    if (const auto found = entries_.find(stretch); found != entries_.end()) {
      return found->second;
    }
    if (entries_.size() >= capacity) {
      entries_.clear();
    }
    return entries_.emplace(std::string(stretch), compute(stretch)).first->second;
  }

 private:
  std::unordered_map<std::string, Value, StringHash, std::equal_to<>> entries_;
  Value uncached_;
};

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(
      text.data(), static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX))));
}

icu::UnicodeString foldWidth(const icu::UnicodeString& text) {
  const Normalizers& n = normalizers();
  icu::UnicodeString result;
  icu::UnicodeString mapping;
  for (int32_t i = 0; i < text.length();) {
    const UChar32 scalar = text.char32At(i);
    i += U16_LENGTH(scalar);
    const int type = u_getIntPropertyValue(scalar, UCHAR_DECOMPOSITION_TYPE);
    if ((type == U_DT_WIDE || type == U_DT_NARROW) &&
        n.nfkd->getRawDecomposition(scalar, mapping)) {
      result.append(mapping);
    } else {
      result.append(scalar);
    }
  }
  return result;
}

icu::UnicodeString withoutDiacritics(const icu::UnicodeString& decomposed) {
  icu::UnicodeString result;
  for (int32_t i = 0; i < decomposed.length();) {
    const UChar32 scalar = decomposed.char32At(i);
    i += U16_LENGTH(scalar);
    if (u_charType(scalar) == U_NON_SPACING_MARK && u_hasBinaryProperty(scalar, UCHAR_DIACRITIC)) {
      continue;
    }
    result.append(scalar);
  }
  return result;
}

icu::UnicodeString foldUnicode(const icu::UnicodeString& text) {
  const Normalizers& n = normalizers();
  icu::UnicodeString folded = foldWidth(text);
  folded.foldCase(U_FOLD_CASE_DEFAULT);
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString decomposed = n.nfd->normalize(folded, status);
  icu::UnicodeString composed = n.nfc->normalize(withoutDiacritics(decomposed), status);
  if (U_FAILURE(status)) {
    throw UnicodeDataError();
  }
  composed.toLower(icu::Locale::getRoot());
  return composed;
}

icu::UnicodeString foldUTF8(std::string_view text) {
  return foldUnicode(toUnicode(text));
}

bool isWordCharacterUTF8(std::string_view character) {
  std::size_t offset = 0;
  UChar32 scalar = 0;
  U8_NEXT(character.data(), offset, character.size(), scalar);
  return scalar >= 0 && isWordScalar(scalar);
}

// Calls onCharacter(begin, end) with the byte range of every character of a UTF-8 stretch.
template <typename OnCharacter>
void forEachCharacterUTF8(std::string_view stretch, OnCharacter&& onCharacter) {
  const UTextPointer text = openUTF8(stretch);
  icu::BreakIterator& iterator = characterIterator();
  UErrorCode status = U_ZERO_ERROR;
  iterator.setText(text.get(), status);
  if (U_FAILURE(status)) {
    throw UnicodeDataError();
  }
  int32_t begin = iterator.first();
  for (int32_t end = iterator.next(); end != icu::BreakIterator::DONE;
       begin = end, end = iterator.next()) {
    onCharacter(static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
  }
}

// The characters of a piece of text, each with its end offset and whether it is a word character.
struct CharacterList {
  std::string text;
  std::vector<std::uint32_t> ends;
  std::vector<bool> isWord;
};

// A stretch folded, then cut into the characters of the folded text.
CharacterList foldedCharactersOf(std::string_view stretch) {
  const icu::UnicodeString folded = foldUTF8(stretch);
  icu::BreakIterator& iterator = characterIterator();
  iterator.setText(folded);
  CharacterList result;
  int32_t begin = iterator.first();
  for (int32_t end = iterator.next(); end != icu::BreakIterator::DONE;
       begin = end, end = iterator.next()) {
    folded.tempSubStringBetween(begin, end).toUTF8String(result.text);
    result.ends.push_back(static_cast<std::uint32_t>(result.text.size()));
    result.isWord.push_back(isWordScalar(folded.char32At(begin)));
  }
  return result;
}

// The characters of an unfolded stretch, each with its own folding.
struct OriginalCharacters {
  std::vector<std::uint32_t> originalEnds;
  CharacterList folded;
};

std::string foldedString(std::string_view text) {
  std::string folded;
  foldUTF8(text).toUTF8String(folded);
  return folded;
}

OriginalCharacters originalCharactersOf(std::string_view stretch) {
  thread_local StretchCache<std::string> characterCache;
  OriginalCharacters result;
  forEachCharacterUTF8(stretch, [&](std::size_t begin, std::size_t end) {
    const std::string_view character = stretch.substr(begin, end - begin);
    result.originalEnds.push_back(static_cast<std::uint32_t>(end));
    result.folded.text += characterCache.get(character, foldedString);
    result.folded.ends.push_back(static_cast<std::uint32_t>(result.folded.text.size()));
    result.folded.isWord.push_back(isWordCharacterUTF8(character));
  });
  return result;
}

StretchCache<OriginalCharacters>& originalCharactersCache() {
  thread_local StretchCache<OriginalCharacters> cache;
  return cache;
}

// Collects the characters of the current word and hands each finished word to the callback.
// A word whose characters are all single bytes (almost every word on most screens) records no
// character ends: character k of it ends at byte k.
class WordScanner {
 public:
  explicit WordScanner(const std::function<bool(const WordView&)>& onWord) : onWord_(onWord) {}

  // ASCII word characters, lowercased on the way in.
  void asciiWordCharacters(std::string_view ascii) {
    for (const char c : ascii) {
      word_.push_back(asciiLower(c));
      if (!simple_) {
        ends_.push_back(static_cast<std::uint32_t>(word_.size()));
      }
    }
    characters_ += ascii.size();
  }

  void wordCharacter(std::string_view folded) {
    if (simple_ && folded.size() != 1) {
      for (std::uint32_t k = 1; k <= characters_; ++k) {
        ends_.push_back(k);
      }
      simple_ = false;
    }
    word_.append(folded);
    if (!simple_) {
      ends_.push_back(static_cast<std::uint32_t>(word_.size()));
    }
    ++characters_;
  }

  void separator() {
    if (characters_ == 0 || stopped_) {
      return;
    }
    stopped_ = !onWord_(WordView{word_, simple_ ? nullptr : ends_.data(), characters_});
    word_.clear();
    ends_.clear();
    characters_ = 0;
    simple_ = true;
  }

  bool stopped() const { return stopped_; }

 private:
  const std::function<bool(const WordView&)>& onWord_;
  std::string word_;
  std::vector<std::uint32_t> ends_;
  std::size_t characters_ = 0;
  bool simple_ = true;
  bool stopped_ = false;
};

}  // namespace

std::string_view WordView::prefix(std::size_t count) const {
  if (count >= characters) {
    return text;
  }
  if (count == 0) {
    return {};
  }
  return text.substr(0, characterEnds ? characterEnds[count - 1] : count);
}

bool WordView::startsWith(std::string_view prefix) const {
  if (!text.starts_with(prefix)) {
    return false;
  }
  if (!characterEnds || prefix.empty() || prefix.size() == text.size()) {
    return true;
  }
  return std::binary_search(characterEnds, characterEnds + characters,
                            static_cast<std::uint32_t>(prefix.size()));
}

WordView FoldedWords::word(std::size_t index) const {
  const Word& w = words[index];
  const bool simple = w.characters == w.end - w.begin;
  return WordView{std::string_view(text).substr(w.begin, w.end - w.begin),
                  simple ? nullptr : characterEnds.data() + w.firstEnd, w.characters};
}

std::string fold(std::string_view text) {
  thread_local StretchCache<std::string> cache;
  std::string result;
  result.reserve(text.size());
  forEachPiece(
      text,
      [&](std::string_view run) {
        for (const char c : run) {
          result.push_back(asciiLower(c));
        }
      },
      [&](std::string_view stretch) { result += cache.get(stretch, foldedString); });
  return result;
}

std::string foldWithoutShortcut(std::string_view text) {
  std::string result;
  foldUTF8(text).toUTF8String(result);
  return result;
}

void forEachWord(std::string_view text, const std::function<bool(const WordView&)>& onWord) {
  thread_local StretchCache<CharacterList> cache;
  WordScanner scanner(onWord);
  forEachPiece(
      text,
      [&](std::string_view run) {
        for (std::size_t i = 0; i < run.size() && !scanner.stopped();) {
          if (!isAsciiWordCharacter(run[i])) {
            scanner.separator();
            ++i;
            continue;
          }
          std::size_t end = i + 1;
          while (end < run.size() && isAsciiWordCharacter(run[end])) {
            ++end;
          }
          scanner.asciiWordCharacters(run.substr(i, end - i));
          i = end;
        }
      },
      [&](std::string_view stretch) {
        const CharacterList& characters = cache.get(stretch, foldedCharactersOf);
        std::uint32_t begin = 0;
        for (std::size_t k = 0; k < characters.ends.size(); ++k) {
          const std::uint32_t end = characters.ends[k];
          if (characters.isWord[k]) {
            scanner.wordCharacter(std::string_view(characters.text).substr(begin, end - begin));
          } else {
            scanner.separator();
          }
          begin = end;
        }
      },
      [&] { return scanner.stopped(); });
  scanner.separator();
}

FoldedWords foldWords(std::string_view text) {
  FoldedWords result;
  result.text.reserve(text.size());
  forEachWord(text, [&result](const WordView& word) {
    FoldedWords::Word kept{static_cast<std::uint32_t>(result.text.size()), 0,
                           static_cast<std::uint32_t>(result.characterEnds.size()),
                           static_cast<std::uint32_t>(word.characters)};
    result.text.append(word.text);
    kept.end = static_cast<std::uint32_t>(result.text.size());
    if (word.characterEnds) {
      result.characterEnds.insert(result.characterEnds.end(), word.characterEnds,
                                  word.characterEnds + word.characters);
    }
    result.words.push_back(kept);
    return true;
  });
  return result;
}

FoldedCharacters foldCharacters(std::string_view text) {
  StretchCache<OriginalCharacters>& cache = originalCharactersCache();
  FoldedCharacters result;
  result.folded.reserve(text.size());
  result.foldedStart.reserve(text.size() + 1);
  result.isWordCharacter.reserve(text.size());
  auto add = [&](std::string_view folded, bool isWord) {
    result.foldedStart.push_back(static_cast<std::uint32_t>(result.folded.size()));
    result.folded.append(folded);
    result.isWordCharacter.push_back(isWord);
  };
  forEachPiece(
      text,
      [&](std::string_view run) {
        forEachAsciiCharacter(run, [&](std::size_t begin, std::size_t end) {
          const char lower = asciiLower(run[begin]);
          add(end - begin == 1 ? std::string_view(&lower, 1) : run.substr(begin, end - begin),
              isAsciiWordCharacter(run[begin]));
        });
      },
      [&](std::string_view stretch) {
        const CharacterList& characters = cache.get(stretch, originalCharactersOf).folded;
        std::uint32_t begin = 0;
        for (std::size_t k = 0; k < characters.ends.size(); ++k) {
          const std::uint32_t end = characters.ends[k];
          add(std::string_view(characters.text).substr(begin, end - begin), characters.isWord[k]);
          begin = end;
        }
      });
  result.foldedStart.push_back(static_cast<std::uint32_t>(result.folded.size()));
  return result;
}

std::vector<std::size_t> characterBoundaries(std::string_view text) {
  StretchCache<OriginalCharacters>& cache = originalCharactersCache();
  std::vector<std::size_t> boundaries;
  boundaries.reserve(text.size() + 1);
  boundaries.push_back(0);
  std::size_t offset = 0;
  forEachPiece(
      text,
      [&](std::string_view run) {
        forEachAsciiCharacter(
            run, [&](std::size_t, std::size_t end) { boundaries.push_back(offset + end); });
        offset += run.size();
      },
      [&](std::string_view stretch) {
        for (const std::uint32_t end : cache.get(stretch, originalCharactersOf).originalEnds) {
          boundaries.push_back(offset + end);
        }
        offset += stretch.size();
      });
  return boundaries;
}

}  // namespace vistrel::TextFolding
