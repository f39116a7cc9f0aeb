#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "VistrelKit/search/SearchQuery.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Words = std::vector<std::string>;
using Phrases = std::vector<Words>;

TEST(SearchQueryTest, ParsesWordsAndPhrases) {
  struct Case {
    std::string text;
    Words words;
    Phrases phrases;
  };
  const std::vector<Case> cases = {
      {"", {}, {}},
      {"   ", {}, {}},
      {"invo 4471", {"invo", "4471"}, {}},
      {"a b cd", {"cd"}, {}},
      {"don't", {"don"}, {}},
      {"t", {}, {}},
      {"Invoice INVOICE invoice", {"invoice"}, {}},
      {"\"due date\"", {}, {{"due", "date"}}},
      {"total \"due date\" paid", {"total", "paid"}, {{"due", "date"}}},
      {"\"invoice\"", {"invoice"}, {}},
      {"\"ab c\"", {"ab"}, {}},
      {"\"ab c de\"", {}, {{"ab", "de"}}},
      {"x \"due date", {}, {{"due", "date"}}},
      {"\"due date\" \"due date\"", {}, {{"due", "date"}, {"due", "date"}}},
      {"\"due date\" due", {"due"}, {{"due", "date"}}},
      {"“due date”", {"due", "date"}, {}},
      {"\"\"\"\"", {}, {}},
      {"Ｃａｆé \"Crème Brûlée\"", {"cafe"}, {{"creme", "brulee"}}},
  };
  for (const Case& c : cases) {
    const SearchQuery query = SearchQuery::parse(c.text);
    EXPECT_EQ(query.words, c.words) << c.text;
    EXPECT_EQ(query.phrases, c.phrases) << c.text;
    EXPECT_EQ(query.isEmpty(), c.words.empty() && c.phrases.empty()) << c.text;
  }
}

TEST(SearchQueryTest, AllWordsListsPhraseWordsAfterWordsOnce) {
  const SearchQuery query{{"total", "due"}, {{"due", "date"}, {"date", "paid", "due"}}};
  EXPECT_THAT(query.allWords(), ElementsAre("total", "due", "date", "paid"));
  EXPECT_THAT(SearchQuery{}.allWords(), IsEmpty());
}

TEST(SearchQueryTest, MatchExpressionJoinsQuotedTokensOfQueryTerms) {
  std::vector<std::string> terms;
  const auto token = [&terms](std::string_view term) {
    terms.emplace_back(term);
    return "<" + std::string(term) + ">";
  };
  const SearchQuery query = SearchQuery::parse("invoices 4471 \"due date\"");
  EXPECT_EQ(query.matchExpression(token),
            "\"<p:invoic>\" AND \"<p:4471>\" AND \"<p:due>\" AND \"<p:date>\"");
  EXPECT_THAT(terms, ElementsAre("p:invoic", "p:4471", "p:due", "p:date"));
  EXPECT_EQ(SearchQuery{}.matchExpression(token), "");
}

TEST(SearchQueryTest, MatchExpressionOfThreeWordsHasThreeHexTokens) {
  const auto hexToken = [](std::string_view term) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(std::hash<std::string_view>{}(term)));
    return std::string(hex);
  };
  EXPECT_THAT(
      SearchQuery::parse("one two three").matchExpression(hexToken),
      ::testing::MatchesRegex(R"re("[0-9a-f]{16}" AND "[0-9a-f]{16}" AND "[0-9a-f]{16}")re"));
}

TEST(SearchQueryTest, MatchesWhenEveryWordBeginsAWordOfTheText) {
  struct Case {
    std::string query;
    std::string text;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"invo 4471", "Invoice #4471\nMail\nThunderbird", true},
      {"4471 invo", "Invoice #4471", true},
      {"invoices", "Invoice #4471", false},
      {"voice", "Invoice #4471", false},
      {"thunder", "Invoice\n\nThunderbird", true},
      {"cafe", "Café Ｍｅｎｕ", true},
      {"menu café", "CAFE MENU", true},
      {"東京", "東京都庁", true},
      {"京都", "東京都庁", false},
      {"don", "don't", true},
      {"invo missing", "Invoice #4471", false},
      {"\"invoice 44\"", "Invoice #4471", true},
      {"\"nvoice 4471\"", "Invoice #4471", false},
      {"\"invo 4471\"", "Invoice #4471", false},
      {"\"invoice 4471\"", "4471 invoice", false},
      {"\"new invoice 44\"", "A new — invoice: #4471!", true},
      {"\"new invoice 44\"", "A new big invoice 4471", false},
      {"\"due date\" paid", "due date\npaid", true},
      {"\"due date\" paid", "due later date\npaid", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SearchQuery::parse(c.query).matches(c.text), c.matches) << c.query << " / " << c.text;
  }
}

TEST(SearchQueryTest, MatchesComparesWholeCharacters) {
  // क followed by the vowel sign ि is one character: "क" does not begin it, "कि" does.
  EXPECT_FALSE(SearchQuery::matches("कि", {"क"}, {}));
  EXPECT_TRUE(SearchQuery::matches("किताब", {"कि"}, {}));
  EXPECT_FALSE(SearchQuery::matches("x कि", {}, {{"x", "क"}}));
  EXPECT_TRUE(SearchQuery::matches("x कि", {}, {{"x", "कि"}}));
}

TEST(SearchQueryTest, ATextWithoutWordsMatchesOnlyTheEmptyQuery) {
  EXPECT_TRUE(SearchQuery::matches("", {}, {}));
  EXPECT_FALSE(SearchQuery::matches("— # —", {"ab"}, {}));
  EXPECT_FALSE(SearchQuery::matches("", {}, {{"ab", "cd"}}));
}

TEST(SearchQueryTest, AQueryWordOfTenCharactersIsVerifiedInFull) {
  const SearchQuery query = SearchQuery::parse("invoiceabc");
  EXPECT_EQ(TextIndex::queryTerm(query.words.at(0)), "p:invoic");
  EXPECT_FALSE(query.matches("invoicexyz"));
  EXPECT_TRUE(query.matches("invoiceabcdef"));
}

}  // namespace
}  // namespace vistrel
