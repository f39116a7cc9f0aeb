#include <gtest/gtest.h>

#include <string>

#include "VistrelKit/library/Retention.h"

namespace vistrel {
namespace {

const Date now = dateFromSeconds1970(1'750'000'000.0);
constexpr double day = 86400;

Date ago(double seconds) {
  return now - Seconds(seconds);
}

TEST(RetentionTest, Selection) {
  struct Case {
    std::string name;
    std::vector<FrameStamp> stamps;
    RetentionPolicy policy;
    std::vector<std::int64_t> selected;
  };
  const std::int64_t roomy = 1'000'000;
  const std::vector<Case> cases{
      {"empty", {}, {30, 0}, {}},
      {"cutoff exactly at the boundary stays",
       {{1, ago(30 * day), 10}, {2, ago(30 * day + 1), 10}},
       {30, roomy},
       {2}},
      {"zero days count as one",
       {{1, ago(day), 10}, {2, ago(day + 1), 10}, {3, ago(2 * day), 10}},
       {0, roomy},
       {3, 2}},
      {"negative days count as one", {{1, ago(day), 10}, {2, ago(day + 1), 10}}, {-5, roomy}, {2}},
      {"oldest taken until under the cap",
       {{3, ago(10), 20}, {1, ago(30), 40}, {2, ago(20), 30}},
       {30, 45},
       {1, 2}},
      {"exactly at the cap selects nothing",
       {{1, ago(30), 40}, {2, ago(20), 30}, {3, ago(10), 20}},
       {30, 90},
       {}},
      {"one over the cap", {{1, ago(30), 40}, {2, ago(20), 30}, {3, ago(10), 20}}, {30, 89}, {1}},
      {"a single frame larger than the cap goes too", {{7, ago(5), 100}}, {30, 99}, {7}},
      {"equal dates: lower identifier is older",
       {{9, ago(10), 50}, {4, ago(10), 50}},
       {30, 60},
       {4}},
      {"past the period first, then the cap",
       {{5, ago(10), 50},
        {1, ago(40 * day), 1},
        {4, ago(20), 50},
        {2, ago(31 * day), 1},
        {3, ago(30), 50}},
       {30, 60},
       {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Retention::select(c.stamps, c.policy, now), c.selected) << c.name;
  }
}

}  // namespace
}  // namespace vistrel
