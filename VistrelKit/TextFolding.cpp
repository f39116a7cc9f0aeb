#include "VistrelKit/TextFolding.h"

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

// Where a stretch that needs ICU, starting at `start`, may end: the first cut (see the comment on
// the folding) that is followed by enough ASCII to be worth the shortcut, or the end of the text.
std::size_t slowStretchEnd(std::string_view text, std::size_t start) {
  constexpr std::size_t worthwhileAscii = 8;
  for (std::size_t j = start + 1; j < text.size(); ++j) {
    const char previous = text[j - 1];
    if (!isAscii(previous) || isCrLf(text, j - 1)) {
      continue;
    }
    if (isAsciiControl(previous)) {
      return j;
    }
    if (!isAscii(text[j])) {
      continue;
    }
    std::size_t k = j;
    while (k < text.size() && k < j + worthwhileAscii && isAscii(text[k])) {
      ++k;
    }
    if (k == text.size() || k == j + worthwhileAscii) {
      return j;
    }
  }
  return text.size();
}

// Walks a text as ASCII characters (one byte, or CR LF) that take the shortcut and stretches
// that need ICU. Both callbacks see disjoint, consecutive pieces cut at character boundaries.
template <typename OnAscii, typename OnStretch>
void forEachPiece(std::string_view text, OnAscii&& onAscii, OnStretch&& onStretch) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (isAscii(c)) {
      if (isCrLf(text, i)) {
        onAscii(text.substr(i, 2));
        i += 2;
        continue;
      }
      if (i + 1 == text.size() || isAscii(text[i + 1]) || isAsciiControl(c)) {
        onAscii(text.substr(i, 1));
        ++i;
        continue;
      }
    }
    const std::size_t end = slowStretchEnd(text, i);
    onStretch(text.substr(i, end - i));
    i = end;
  }
}

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

// Characters of a stretch repeat a lot (a screen of Japanese uses a few hundred), so their
// foldings are remembered per thread; the memory is bounded by clearing when full.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

const std::string& foldCharacterCached(std::string_view character) {
  constexpr std::size_t capacity = 8192;
  thread_local std::unordered_map<std::string, std::string, StringHash, std::equal_to<>> cache;
  if (const auto found = cache.find(character); found != cache.end()) {
    return found->second;
  }
  if (cache.size() >= capacity) {
    cache.clear();
  }
  std::string folded;
  foldUnicode(toUnicode(character)).toUTF8String(folded);
  return cache.emplace(std::string(character), std::move(folded)).first->second;
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

class WordsBuilder {
 public:
  explicit WordsBuilder(std::size_t expectedBytes) {
    result_.text.reserve(expectedBytes);
    result_.characterEnds.reserve(expectedBytes);
  }

  void wordCharacter(std::string_view folded) {
    if (!inWord_) {
      current_ = {static_cast<std::uint32_t>(result_.text.size()), 0,
                  static_cast<std::uint32_t>(result_.characterEnds.size()), 0};
      inWord_ = true;
    }
    result_.text.append(folded);
    result_.characterEnds.push_back(static_cast<std::uint32_t>(result_.text.size()));
    ++current_.characters;
  }

  void separator() {
    if (inWord_) {
      current_.end = static_cast<std::uint32_t>(result_.text.size());
      result_.words.push_back(current_);
      inWord_ = false;
    }
  }

  FoldedWords finish() {
    separator();
    return std::move(result_);
  }

 private:
  FoldedWords result_;
  FoldedWords::Word current_;
  bool inWord_ = false;
};

}  // namespace

std::string_view FoldedWords::wordPrefix(std::size_t index, std::size_t count) const {
  const Word& w = words[index];
  if (count >= w.characters) {
    return word(index);
  }
  if (count == 0) {
    return {};
  }
  const std::uint32_t end = characterEnds[w.firstEnd + count - 1];
  return std::string_view(text).substr(w.begin, end - w.begin);
}

bool FoldedWords::wordStartsWith(std::size_t index, std::string_view prefix) const {
  const std::string_view w = word(index);
  if (!w.starts_with(prefix)) {
    return false;
  }
  if (prefix.empty() || prefix.size() == w.size()) {
    return true;
  }
  const auto first = characterEnds.begin() + words[index].firstEnd;
  const auto last = first + words[index].characters;
  return std::binary_search(first, last,
                            static_cast<std::uint32_t>(words[index].begin + prefix.size()));
}

std::string fold(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  forEachPiece(
      text,
      [&](std::string_view ascii) {
        for (const char c : ascii) {
          result.push_back(asciiLower(c));
        }
      },
      [&](std::string_view stretch) { foldUnicode(toUnicode(stretch)).toUTF8String(result); });
  return result;
}

std::string foldWithoutShortcut(std::string_view text) {
  std::string result;
  foldUnicode(toUnicode(text)).toUTF8String(result);
  return result;
}

FoldedWords foldWords(std::string_view text) {
  WordsBuilder builder(text.size());
  std::string character;
  forEachPiece(
      text,
      [&](std::string_view ascii) {
        if (ascii.size() == 1 && isAsciiWordCharacter(ascii[0])) {
          const char lower = asciiLower(ascii[0]);
          builder.wordCharacter(std::string_view(&lower, 1));
        } else {
          builder.separator();
        }
      },
      [&](std::string_view stretch) {
        const icu::UnicodeString folded = foldUnicode(toUnicode(stretch));
        icu::BreakIterator& iterator = characterIterator();
        iterator.setText(folded);
        int32_t begin = iterator.first();
        for (int32_t end = iterator.next(); end != icu::BreakIterator::DONE;
             begin = end, end = iterator.next()) {
          if (!isWordScalar(folded.char32At(begin))) {
            builder.separator();
            continue;
          }
          character.clear();
          folded.tempSubStringBetween(begin, end).toUTF8String(character);
          builder.wordCharacter(character);
        }
      });
  return builder.finish();
}

FoldedCharacters foldCharacters(std::string_view text) {
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
      [&](std::string_view ascii) {
        const char lower = asciiLower(ascii[0]);
        add(ascii.size() == 1 ? std::string_view(&lower, 1) : ascii,
            isAsciiWordCharacter(ascii[0]));
      },
      [&](std::string_view stretch) {
        forEachCharacterUTF8(stretch, [&](std::size_t begin, std::size_t end) {
          const std::string_view character = stretch.substr(begin, end - begin);
          add(foldCharacterCached(character), isWordCharacterUTF8(character));
        });
      });
  result.foldedStart.push_back(static_cast<std::uint32_t>(result.folded.size()));
  return result;
}

std::vector<std::size_t> characterBoundaries(std::string_view text) {
  std::vector<std::size_t> boundaries;
  boundaries.reserve(text.size() + 1);
  boundaries.push_back(0);
  std::size_t offset = 0;
  forEachPiece(
      text,
      [&](std::string_view ascii) {
        offset += ascii.size();
        boundaries.push_back(offset);
      },
      [&](std::string_view stretch) {
        const std::size_t base = offset;
        forEachCharacterUTF8(
            stretch, [&](std::size_t, std::size_t end) { boundaries.push_back(base + end); });
        offset += stretch.size();
      });
  return boundaries;
}

}  // namespace vistrel::TextFolding
