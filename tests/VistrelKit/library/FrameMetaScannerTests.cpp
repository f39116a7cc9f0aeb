#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "VistrelKit/library/FrameMetaScanner.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/library/RecordDecodingError.h"

namespace vistrel {
namespace {

// What the general decoder makes of the text, or nothing when it refuses it.
std::optional<FrameMeta> general(std::string_view text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    return std::nullopt;
  }
  try {
    return FrameMeta::fromJSON(json);
  } catch (const RecordDecodingError&) {
    return std::nullopt;
  }
}

// Equal down to the bits of every number (0.0 and -0.0 differ).
::testing::AssertionResult identical(const FrameMeta& a, const FrameMeta& b) {
  if (a.appName != b.appName || a.bundleID != b.bundleID || a.title != b.title ||
      a.width != b.width || a.height != b.height || a.lines.size() != b.lines.size()) {
    return ::testing::AssertionFailure() << "fields or line counts differ";
  }
  for (std::size_t i = 0; i < a.lines.size(); ++i) {
    const TextLine& x = a.lines[i];
    const TextLine& y = b.lines[i];
    const auto bits = [](double value) { return std::bit_cast<std::uint64_t>(value); };
    if (x.text != y.text || bits(x.x) != bits(y.x) || bits(x.y) != bits(y.y) ||
        bits(x.w) != bits(y.w) || bits(x.h) != bits(y.h)) {
      return ::testing::AssertionFailure() << "line " << i << " differs: \"" << x.text << "\" "
                                           << x.x << " vs \"" << y.text << "\" " << y.x;
    }
  }
  return ::testing::AssertionSuccess();
}

double randomNumber(std::mt19937_64& random) {
  static const double special[] = {0.0,
                                   -0.0,
                                   1.0,
                                   0.1,
                                   1.0 / 3.0,
                                   5e-324,
                                   2.2250738585072014e-308,
                                   1.7976931348623157e308,
                                   -1e-300,
                                   9007199254740993.0,
                                   1e21,
                                   123456789012345678.0};
  switch (random() % 3) {
    case 0:
      return special[random() % std::size(special)];
    case 1:
      return static_cast<double>(random() % 2000) / 1000.0 - 0.5;
    default: {
      double value = std::bit_cast<double>(random());
      return std::isfinite(value) ? value : 0.25;
    }
  }
}

std::string randomText(std::mt19937_64& random) {
  static const char* pieces[] = {"Invoice",
                                 " #4471",
                                 "\"quoted\"",
                                 "back\\slash",
                                 "tab\there",
                                 "new\nline",
                                 "\x01\x1f",
                                 "caf\xC3\xA9",
                                 "\xE4\xB8\xAD\xE6\x96\x87",
                                 "\xF0\x9F\x98\x80",
                                 "/path/",
                                 " ",
                                 "\x7f",
                                 "{\"x\":[1]}"};
  std::string text;
  for (int i = 0, n = 1 + static_cast<int>(random() % 6); i < n; ++i) {
    text += pieces[random() % std::size(pieces)];
  }
  return text;
}

// Whatever the encoder writes, the scan reads, and reads exactly as the general decoder does.
TEST(FrameMetaScannerTest, ReadsEverythingTheEncoderWritesAsTheGeneralDecoderDoes) {
  std::mt19937_64 random(3);
  for (int round = 0; round < 300; ++round) {
    FrameMeta meta;
    meta.appName = randomText(random);
    if (random() % 2) {
      meta.bundleID = randomText(random);
    }
    if (random() % 2) {
      meta.title = randomText(random);
    }
    const std::int64_t sizes[] = {0, 1600, -1, std::numeric_limits<std::int64_t>::max(),
                                  std::numeric_limits<std::int64_t>::min()};
    meta.width = sizes[random() % std::size(sizes)];
    meta.height = static_cast<std::int64_t>(random() % 5000);
    for (int i = 0, n = static_cast<int>(random() % 40); i < n; ++i) {
      meta.lines.push_back(TextLine{randomText(random), randomNumber(random), randomNumber(random),
                                    randomNumber(random), randomNumber(random)});
    }
    const std::string encoded = meta.encode();
    SCOPED_TRACE(encoded);
    const std::optional<FrameMeta> scanned = scanPlainFrameMeta(encoded);
    const std::optional<FrameMeta> expected = general(encoded);
    ASSERT_TRUE(scanned);
    ASSERT_TRUE(expected);
    EXPECT_TRUE(identical(*scanned, *expected));
    EXPECT_TRUE(identical(FrameMeta::decode(encoded), *expected));
  }
}

// Texts at the edges of the plain shape. The scan may give up on any of them (then the general
// decoder decides, as FrameMeta::decode shows); when it reads one, it reads it as the general
// decoder does, and it never accepts what the general decoder refuses.
TEST(FrameMetaScannerTest, AtTheEdgesReadsAsTheGeneralDecoderOrGivesUp) {
  const auto meta = [](const std::string& members, const std::string& line = "") {
    return R"({"appName":"Mail","width":1600,"height":1000,"lines":[)" + line + "]" + members + "}";
  };
  const auto withLine = [&](const std::string& members) { return meta("", "{" + members + "}"); };
  const std::string plainLine = R"("text":"Invoice","x":0.1,"y":0.2,"w":0.3,"h":0.04)";
  struct Case {
    std::string text;
    bool scanned;  // whether the scan is expected to read it
  };
  const Case cases[] = {
      {meta(""), true},
      {" \n\t{ \"lines\" : [ ] , \"height\":1,\r\n\"width\":2, \"appName\":\"A\" } \n", true},
      {meta(R"(,"title":null,"bundleID":null)"), true},
      {meta(R"(,"title":"Inbox","bundleID":"com.example.mail")"), true},
      {meta(R"(,"t\u0069tle":"Inbox")"), true},
      {meta(R"(,"title":5)"), false},
      {meta(R"(,"title":["Inbox"])"), false},
      {meta(R"(,"extra":{"nested":[1,{"a":null}]})"), false},
      {meta(R"(,"appName":"Twice")"), false},
      {withLine(plainLine), true},
      {withLine(R"("h":1,"w":2,"y":3,"x":4,"text":"any order")"), true},
      {withLine(
           R"("text":"\ud83d\ude00 \u00e9\u4e2d \"q\" \\ \/ \b\f\n\r\t","x":0,"y":0,"w":0,"h":0)"),
       true},
      {withLine(R"("text":"nul \u0000 inside","x":0,"y":0,"w":0,"h":0)"), true},
      {withLine(R"("text":"lone \ud83d","x":0,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"lone \ude00","x":0,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"bad \q","x":0,"y":0,"w":0,"h":0)"), false},
      {withLine("\"text\":\"raw \x01\",\"x\":0,\"y\":0,\"w\":0,\"h\":0"), false},
      {withLine("\"text\":\"overlong \xC0\xAF\",\"x\":0,\"y\":0,\"w\":0,\"h\":0"), false},
      {withLine("\"text\":\"surrogate \xED\xA0\x80\",\"x\":0,\"y\":0,\"w\":0,\"h\":0"), false},
      {withLine("\"text\":\"too high \xF4\x90\x80\x80\",\"x\":0,\"y\":0,\"w\":0,\"h\":0"), false},
      {withLine("\"text\":\"cut \xE4\xB8\",\"x\":0,\"y\":0,\"w\":0,\"h\":0"), false},
      {withLine(R"("text":"t","x":-0,"y":-0.0,"w":1E2,"h":2.5e-3)"), true},
      {withLine(
           R"("text":"t","x":12345678901234567890,"y":18446744073709551616,"w":-9223372036854775809,"h":0)"),
       true},
      {withLine(R"("text":"t","x":1e400,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":01,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":1.,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":.5,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":+1,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":1e,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":"1","y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":"t","x":0,"y":0,"w":0)"), false},
      {withLine(R"("text":"t","x":0,"y":0,"w":0,"h":0,"z":1)"), false},
      {withLine(R"("text":"t","x":0,"x":1,"y":0,"w":0,"h":0)"), false},
      {withLine(R"("text":7,"x":0,"y":0,"w":0,"h":0)"), false},
      {meta("", "1"), false},
      {R"({"appName":"Mail","width":1600.0,"height":1000,"lines":[]})", false},
      {R"({"appName":"Mail","width":-5,"height":9223372036854775807,"lines":[]})", true},
      {R"({"appName":"Mail","width":9223372036854775808,"height":1,"lines":[]})", false},
      {R"({"appName":"Mail","width":1,"height":1,"lines":{}})", false},
      {R"({"appName":"Mail","width":1,"height":1})", false},
      {R"({"width":1,"height":1,"lines":[]})", false},
      {meta("") + " x", false},
      {meta("") + "{}", false},
      {"\xEF\xBB\xBF" + meta(""), false},
      {meta(","), false},
      {"", false},
      {"null", false},
      {"[]", false},
      {R"({"appName":"Mail")", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<FrameMeta> scanned = scanPlainFrameMeta(c.text);
    const std::optional<FrameMeta> expected = general(c.text);
    EXPECT_EQ(scanned.has_value(), c.scanned);
    if (scanned) {
      ASSERT_TRUE(expected) << "read what the general decoder refuses";
      EXPECT_TRUE(identical(*scanned, *expected));
    }
    if (expected) {
      EXPECT_TRUE(identical(FrameMeta::decode(c.text), *expected));
    } else {
      EXPECT_THROW(FrameMeta::decode(c.text), RecordDecodingError);
    }
  }
}

}  // namespace
}  // namespace vistrel
