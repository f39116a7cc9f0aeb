#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>
#include <vector>

#include "VistrelKit/search/TextFolding.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

using Words = std::vector<std::string>;

// A family of three (man, ZWJ, woman, ZWJ, girl): five scalars, one character.
const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";

TEST(TextIndexTest, SplitsTheInvoiceExample) {
  EXPECT_THAT(TextIndex::splitWords("Invoice #4471 — Café"),
              ElementsAre("invoice", "4471", "cafe"));
}

TEST(TextIndexTest, SplitsAtEveryCharacterThatIsNeitherLetterNorNumber) {
  struct Case {
    std::string text;
    Words words;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"  \n\t ", {}},
      {"#-/ — …", {}},
      {"don't", {"don", "t"}},
      {"a-b/c#d", {"a", "b", "c", "d"}},
      {"x2 2x ½ ⅷ", {"x2", "2x", "½", "ⅷ"}},
      {"same Same SAME", {"same", "same", "same"}},
      {"Tab\tLine\r\nNext", {"tab", "line", "next"}},
      {"Straße", {"strasse"}},
      {"Ｉｎｖｏｉｃｅ　＃４４７１", {"invoice", "4471"}},
      {"ﾃｽﾄ テスト", {"テスト", "テスト"}},
      {"e\u0301te\u0301 ÉTÉ", {"ete", "ete"}},
      {"ΣΊΣΥΦΟΣ σίσυφος", {"σισυφοσ", "σισυφοσ"}},
      {"東京都、大阪。京都", {"東京都", "大阪", "京都"}},
      {"Tokyo東京 서울시", {"tokyo東京", "서울시"}},
      {"ok" + family + "go", {"ok", "go"}},
      {"v1.2.3", {"v1", "2", "3"}},
      {"\xff\xfe"
       "abc\xc3",
       {"abc"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextIndex::splitWords(c.text), c.words) << c.text;
  }
}

TEST(TextIndexTest, NormalizeFoldsWidthCaseAndDiacritics) {
  EXPECT_EQ(TextIndex::normalize("Ｃａｆé ＡＢＣ１２３"), "cafe abc123");
  EXPECT_EQ(TextIndex::normalize("Ærøskøbing Ñandú"), "ærøskøbing nandu");
  EXPECT_EQ(TextIndex::normalize("ﬁle İstanbul"), "file istanbul");
  EXPECT_EQ(TextIndex::normalize("Invoice #4471 — Café"), "invoice #4471 — cafe");
  EXPECT_EQ(TextIndex::normalize(""), "");
}

TEST(TextIndexTest, NormalizeIsIdempotent) {
  for (const std::string text : {"Ｃａｆé", "Straße ﬁ", "ΣΊΣΥΦΟΣ", "ᏣᎳᎩ ꮳꮃꭹ", "ｶﾞｷﾞ"}) {
    const std::string once = TextIndex::normalize(text);
    EXPECT_EQ(TextIndex::normalize(once), once) << text;
  }
}

// Texts where the ASCII shortcut must cut next to characters that join, compose or reorder.
const std::vector<std::string>& trickyTexts() {
  static const std::vector<std::string> texts = {
      "Invoice #4471 — Café and more plain ASCII text after it",
      "e\u0301 a\u0308b o\u0302 plain text here and there, then =\u0338 and <\u0338",
      "Line one\r\n\u0301 starts with a mark\nNEXT ＡＢＣ done\r\n",
      "Prepend \u0600abc and text, \U0001F1E9\U0001F1EA flags \U0001F1EB\U0001F1F7 here",
      "mixed 東京 with ascii runs of enough length 서울 and ΣΊΣΥΦΟΣ at the end",
      "A" + family + "B" + " trailing ascii words x\u200D" + family,
      "किताब and कि, then ﬁnal ligature and Straße, \u1100\u1161\u11A8 jamo",
      "a\xff\xfe"
      "b broken \xe2\x82 bytes \xc3",
  };
  return texts;
}

// The reference: the whole text folded and cut into characters by ICU, without any shortcut.
std::vector<std::string> referenceWords(const std::string& text) {
  const icu::UnicodeString folded =
      icu::UnicodeString::fromUTF8(TextFolding::foldWithoutShortcut(text));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  characters->setText(folded);
  std::vector<std::string> words;
  std::string current;
  for (int32_t begin = characters->first(), end = characters->next();
       end != icu::BreakIterator::DONE; begin = end, end = characters->next()) {
    const UChar32 first = folded.char32At(begin);
    if (u_hasBinaryProperty(first, UCHAR_ALPHABETIC) ||
        u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE) {
      folded.tempSubStringBetween(begin, end).toUTF8String(current);
    } else if (!current.empty()) {
      words.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) {
    words.push_back(current);
  }
  return words;
}

std::size_t referenceCharacterCount(const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  characters->setText(icu::UnicodeString::fromUTF8(text));
  std::size_t count = 0;
  for (characters->first(); characters->next() != icu::BreakIterator::DONE;) {
    ++count;
  }
  return count;
}

TEST(TextIndexTest, ShortcutGivesTheResultsOfTheWholeText) {
  for (const std::string& text : trickyTexts()) {
    EXPECT_EQ(TextFolding::fold(text), TextFolding::foldWithoutShortcut(text)) << text;
    EXPECT_EQ(TextIndex::splitWords(text), referenceWords(text)) << text;
    EXPECT_EQ(TextIndex::characterCount(text), referenceCharacterCount(text)) << text;
  }
}

TEST(TextIndexTest, CountsUserPerceivedCharacters) {
  struct Case {
    std::string text;
    std::size_t count;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"abc", 3},
      {"\r\n", 1},
      {"e\u0301", 1},
      {family, 1},
      {"a" + family + "b", 3},
      {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},
      {"कि", 1},
      {"東京", 2},
      {"한국어", 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextIndex::characterCount(c.text), c.count) << c.text;
  }
  EXPECT_THAT(TextIndex::characterBoundaries("a" + family + "é"),
              ElementsAre(0, 1, 1 + family.size(), 1 + family.size() + 2));
}

TEST(TextIndexTest, IndexTermsOfTheInvoiceExample) {
  EXPECT_THAT(TextIndex::indexTerms("Invoice #4471"),
              UnorderedElementsAre("p:in", "p:inv", "p:invo", "p:invoi", "p:invoic", "p:44",
                                   "p:447", "p:4471"));
}

TEST(TextIndexTest, IndexTermsCountByWordLength) {
  EXPECT_THAT(TextIndex::indexTerms("a b c 1 ä"), IsEmpty());
  EXPECT_THAT(TextIndex::indexTerms("\n\nX"), IsEmpty());
  EXPECT_THAT(TextIndex::indexTerms("ab"), ElementsAre("p:ab"));
  EXPECT_EQ(TextIndex::indexTerms("abcde").size(), 4u);
  EXPECT_EQ(TextIndex::indexTerms("abcdef").size(), 5u);
  EXPECT_EQ(TextIndex::indexTerms("abcdefghijkl").size(), 5u);
  EXPECT_THAT(TextIndex::indexTerms("don't"), ElementsAre("p:do", "p:don"));
  EXPECT_THAT(TextIndex::indexTerms("Invoice invoices INVOICE x inventory"),
              UnorderedElementsAre("p:in", "p:inv", "p:invo", "p:invoi", "p:invoic", "p:inve",
                                   "p:inven", "p:invent"));
}

TEST(TextIndexTest, IndexTermsCutNonLatinWordsAtCharacters) {
  EXPECT_THAT(
      TextIndex::indexTerms("東京都庁舎前駅"),
      UnorderedElementsAre("p:東京", "p:東京都", "p:東京都庁", "p:東京都庁舎", "p:東京都庁舎前"));
  EXPECT_THAT(TextIndex::indexTerms("कि"), IsEmpty());
  EXPECT_THAT(TextIndex::indexTerms("Ｃａｆé"), UnorderedElementsAre("p:ca", "p:caf", "p:cafe"));
}

TEST(TextIndexTest, QueryTermUsesAtMostSixCharacters) {
  EXPECT_EQ(TextIndex::queryTerm("invoices"), "p:invoic");
  EXPECT_EQ(TextIndex::queryTerm("invo"), "p:invo");
  EXPECT_EQ(TextIndex::queryTerm("東京都庁舎前駅"), "p:東京都庁舎前");
  EXPECT_EQ(TextIndex::queryTerm(""), "p:");
}

TEST(TextIndexTest, QueryTermOfAWordIsOneOfItsIndexTerms) {
  for (const std::string word : {"invoice", "4471", "東京都庁舎前駅", "café", "ab"}) {
    const std::vector<std::string> terms = TextIndex::indexTerms(word);
    const std::string normalized = TextIndex::splitWords(word).at(0);
    EXPECT_THAT(terms, ::testing::Contains(TextIndex::queryTerm(normalized))) << word;
  }
}

}  // namespace
}  // namespace vistrel
