#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Range = Highlighter::CharacterRange;

const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";

// The characters of `text` covered by a range, to state expectations readably.
std::string covered(const std::string& text, Range range) {
  const std::vector<std::size_t> bounds = TextIndex::characterBoundaries(text);
  return text.substr(bounds.at(range.start), bounds.at(range.end) - bounds.at(range.start));
}

std::vector<std::string> highlighted(const std::string& text, const std::string& query) {
  std::vector<std::string> parts;
  for (const Range& range : Highlighter::ranges(text, SearchQuery::parse(query))) {
    parts.push_back(covered(text, range));
  }
  return parts;
}

TEST(HighlighterTest, RangesCoverWholeWordsThatAQueryWordBegins) {
  struct Case {
    std::string text;
    std::string query;
    std::vector<std::string> highlighted;
  };
  const std::vector<Case> cases = {
      {"Re: invoices", "invo", {"invoices"}},
      {"Re: invoices", "voice", {}},
      {"Invoice", "inv invoice", {"Invoice"}},
      {"Invoice #4471 — Café", "invo 4471 cafe", {"Invoice", "4471", "Café"}},
      {"invoice, invoices and reinvoice", "invoice", {"invoice", "invoices"}},
      {"Ｉｎｖｏｉｃｅ ＃４４７１", "invo 44", {"Ｉｎｖｏｉｃｅ", "４４７１"}},
      {"CRÈME brûlée", "creme brul", {"CRÈME", "brûlée"}},
      {"Straße", "strasse", {"Straße"}},
      {"Strasse", "straße", {"Strasse"}},
      {"東京都庁", "東京", {"東京都庁"}},
      {"東京都庁", "京都", {}},
      {"", "invo", {}},
      {"Invoice", "", {}},
      {"\"due date\" here", "\"due date\"", {"due", "date"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(highlighted(c.text, c.query), c.highlighted) << c.text << " / " << c.query;
  }
}

TEST(HighlighterTest, RangesCountCharactersOfTheOriginalText) {
  // é written as e + combining accent, and a family of five scalars, are one character each.
  const std::string text = "Cafe\u0301 " + family + " Invoice";
  EXPECT_THAT(Highlighter::ranges(text, SearchQuery::parse("invoice cafe")),
              ElementsAre(Range{0, 4}, Range{7, 14}));
  EXPECT_THAT(Highlighter::ranges(family + family + "ab" + family + "abc", {"ab"}, {}),
              ElementsAre(Range{2, 4}, Range{5, 8}));
  // A lone combining accent is a character of its own that folds to nothing.
  EXPECT_THAT(Highlighter::ranges("\u0301invoice", {"invoice"}, {}), ElementsAre(Range{1, 8}));
}

TEST(HighlighterTest, RangesMergeOverlapsAndSortByStart) {
  EXPECT_THAT(Highlighter::ranges("alpha beta alphabet", {"beta", "alpha", "alphab"}, {}),
              ElementsAre(Range{0, 5}, Range{6, 10}, Range{11, 19}));
}

TEST(HighlighterTest, NeedlesMatchOnlyWholeFoldedCharacters) {
  // ß folds to ss: "s" alone is only part of that character.
  EXPECT_THAT(Highlighter::ranges("ßt st", {"st"}, {}), ElementsAre(Range{3, 5}));
}

TEST(HighlighterTest, LinesMatchingListsLinesWithARange) {
  const std::vector<TextLine> lines = {
      {"Inbox", 0, 0, 1, 0.1},        {"Re: invoices", 0, 0.1, 1, 0.1},
      {"voice mail", 0, 0.2, 1, 0.1}, {"INVOICE #4471", 0, 0.3, 1, 0.1},
      {"", 0, 0.4, 1, 0.1},
  };
  EXPECT_THAT(Highlighter::linesMatching(lines, SearchQuery::parse("invo")), ElementsAre(1, 3));
  EXPECT_THAT(Highlighter::linesMatching(lines, SearchQuery::parse("\"invoice 44\"")),
              ElementsAre(1, 3));
  EXPECT_THAT(Highlighter::linesMatching(lines, SearchQuery{}), IsEmpty());
  EXPECT_THAT(Highlighter::linesMatching({}, SearchQuery::parse("invo")), IsEmpty());
}

TEST(HighlighterTest, BoxOfARangeInATenCharacterLine) {
  // Characters 2 to 5 of a ten-character line: "word" in "a word xyz".
  const TextLine line{"a word xyz", 0.1, 0.2, 0.5, 0.04};
  const std::vector<Highlighter::Box> boxes = Highlighter::highlightBoxes({line}, {"wo"}, {});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_DOUBLE_EQ(boxes[0].x, 0.1 + 0.2 * 0.5);
  EXPECT_DOUBLE_EQ(boxes[0].y, 0.2);
  EXPECT_DOUBLE_EQ(boxes[0].w, 0.4 * 0.5);
  EXPECT_DOUBLE_EQ(boxes[0].h, 0.04);
}

TEST(HighlighterTest, BoxesFollowLinesAndRangesInOrder) {
  const std::vector<TextLine> lines = {
      {"", 0, 0, 1, 0.1},
      {"due " + family + " date", 0, 0.5, 0.8, 0.1},
  };
  const std::vector<Highlighter::Box> boxes =
      Highlighter::highlightBoxes(lines, {"date", "due"}, {});
  // The second line has 10 characters: due(3) space family space date(4).
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_DOUBLE_EQ(boxes[0].x, 0.0);
  EXPECT_DOUBLE_EQ(boxes[0].w, 0.8 * 3 / 10);
  EXPECT_DOUBLE_EQ(boxes[1].x, 0.8 * 6 / 10);
  EXPECT_DOUBLE_EQ(boxes[1].w, 0.8 * 4 / 10);
  EXPECT_DOUBLE_EQ(boxes[1].y, 0.5);
  EXPECT_THAT(Highlighter::highlightBoxes(lines, SearchQuery{}), IsEmpty());
}

}  // namespace
}  // namespace vistrel
