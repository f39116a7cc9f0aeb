#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "VistrelKit/library/RecordDecodingError.h"
#include "VistrelKit/search/TextLine.h"

namespace vistrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> textsOf(const std::vector<TextLine>& lines) {
  std::vector<std::string> texts;
  for (const TextLine& line : lines) {
    texts.push_back(line.text);
  }
  return texts;
}

TEST(TextLineTest, JsonHasExactlyFiveKeysAndRoundTrips) {
  const TextLine line{"Total", 0.1, 0.2, 0.3, 0.04};
  const nlohmann::json json = line;
  std::vector<std::string> keys;
  for (const auto& item : json.items()) {
    keys.push_back(item.key());
  }
  EXPECT_THAT(keys, ElementsAre("h", "text", "w", "x", "y"));
  EXPECT_EQ(json["text"], "Total");
  EXPECT_EQ(json.get<TextLine>(), line);
  EXPECT_EQ(nlohmann::json::parse(json.dump()).get<TextLine>(), line);
}

TEST(TextLineTest, DecodingRequiresEveryKeyWithItsType) {
  const std::vector<std::string> broken = {
      R"({"text":"Total","x":0.1,"y":0.2,"w":0.3})",
      R"({"x":0.1,"y":0.2,"w":0.3,"h":0.04})",
      R"({"text":5,"x":0.1,"y":0.2,"w":0.3,"h":0.04})",
      R"({"text":"Total","x":"0.1","y":0.2,"w":0.3,"h":0.04})",
      R"({"text":"Total","x":0.1,"y":null,"w":0.3,"h":0.04})",
      R"(["Total",0.1,0.2,0.3,0.04])",
  };
  for (const std::string& text : broken) {
    EXPECT_THROW(nlohmann::json::parse(text).get<TextLine>(), RecordDecodingError) << text;
  }
  EXPECT_EQ(
      nlohmann::json::parse(R"({"text":"T","x":0,"y":1,"w":1,"h":0,"extra":true})").get<TextLine>(),
      (TextLine{"T", 0, 1, 1, 0}));
}

TEST(TextLineTest, NonFiniteNumbersAreWrittenAsZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const nlohmann::json json = TextLine{"T", nan, std::numeric_limits<double>::infinity(), 0.5, 0.1};
  EXPECT_EQ(nlohmann::json::parse(json.dump()).get<TextLine>(), (TextLine{"T", 0, 0, 0.5, 0.1}));
}

TEST(TextLineTest, ObservationsAreTrimmedAndEmptyOnesDropped) {
  const std::vector<RecognizedObservation> observations = {
      {std::nullopt, 0.1, 0.8, 0.2, 0.05},
      {"  \n\t \u00A0 ", 0.1, 0.7, 0.2, 0.05},
      {"  Total \r\n", 0.1, 0.6, 0.2, 0.05},
      {"", 0.1, 0.5, 0.2, 0.05},
  };
  const std::vector<TextLine> lines = linesFromObservations(observations);
  EXPECT_THAT(textsOf(lines), ElementsAre("Total"));
  EXPECT_THAT(linesFromObservations({}), IsEmpty());
}

TEST(TextLineTest, BoxesTurnFromBottomLeftToTopLeft) {
  const std::vector<TextLine> lines = linesFromObservations({{"Line", 0.15, 0.70, 0.5, 0.05}});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_DOUBLE_EQ(lines[0].x, 0.15);
  EXPECT_DOUBLE_EQ(lines[0].y, 0.25);
  EXPECT_DOUBLE_EQ(lines[0].w, 0.5);
  EXPECT_DOUBLE_EQ(lines[0].h, 0.05);
}

TEST(TextLineTest, PixelBoxesBecomeNormalizedObservations) {
  const RecognizedObservation observation =
      RecognizedObservation::fromPixelBox("Line", 160, 300, 960, 330, 1600, 1000);
  const std::vector<TextLine> lines = linesFromObservations({observation});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_DOUBLE_EQ(lines[0].x, 0.1);
  EXPECT_DOUBLE_EQ(lines[0].y, 0.3);
  EXPECT_DOUBLE_EQ(lines[0].w, 0.5);
  EXPECT_DOUBLE_EQ(lines[0].h, 0.03);
}

TEST(TextLineTest, LinesOnOneRowGoLeftToRight) {
  // Centres 0.5012 and 0.5047 share row 50 although the right box is taller.
  std::vector<TextLine> lines = {{"right", 0.6, 0.4912, 0.2, 0.0270},
                                 {"left", 0.1, 0.4912, 0.2, 0.02}};
  EXPECT_EQ(rowKey(lines[0]), 50);
  EXPECT_EQ(rowKey(lines[1]), 50);
  sortInReadingOrder(lines);
  EXPECT_THAT(textsOf(lines), ElementsAre("left", "right"));
}

TEST(TextLineTest, ReadingOrderIsTopToBottomThenLeftToRightAndStable) {
  std::vector<TextLine> lines = {
      {"lower left", 0.0, 0.80, 0.2, 0.02},      {"top right", 0.9, 0.05, 0.1, 0.02},
      {"first twin", 0.3, 0.40, 0.2, 0.02},      {"second twin", 0.3, 0.40, 0.2, 0.02},
      {"centre 0.5001", 0.0, 0.4901, 0.2, 0.02}, {"centre 0.4999", 0.9, 0.4899, 0.2, 0.02},
  };
  sortInReadingOrder(lines);
  EXPECT_THAT(textsOf(lines), ElementsAre("top right", "first twin", "second twin", "centre 0.4999",
                                          "centre 0.5001", "lower left"));
}

TEST(TextLineTest, NonFiniteBoxesStillSortAndStore) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<RecognizedObservation> observations;
  for (int i = 0; i < 40; ++i) {
    observations.push_back({"line " + std::to_string(i), i % 3 == 0 ? nan : 0.01 * i,
                            i % 5 == 0 ? std::numeric_limits<double>::infinity() : 0.02 * i, 0.1,
                            0.01});
  }
  const std::vector<TextLine> lines = linesFromObservations(observations);
  ASSERT_EQ(lines.size(), 40u);
  for (const TextLine& line : lines) {
    EXPECT_TRUE(std::isfinite(line.x) && std::isfinite(line.y)) << line.text;
  }
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
    return rowKey(a) < rowKey(b) || (rowKey(a) == rowKey(b) && a.x < b.x);
  }));
}

TEST(TextLineTest, MalformedCandidatesAreRepairedNotLost) {
  const std::vector<TextLine> lines =
      linesFromObservations({{" ab\xff"
                              "cd ",
                              0, 0.5, 1, 0.1}});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "ab\uFFFDcd");
  EXPECT_NO_THROW(nlohmann::json(lines[0]).dump());
}

}  // namespace
}  // namespace vistrel
