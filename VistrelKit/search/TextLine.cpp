#include "VistrelKit/search/TextLine.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "VistrelKit/library/RecordDecodingError.h"

namespace vistrel {
namespace {

double finiteOrZero(double value) {
  return std::isfinite(value) ? value : 0.0;
}

double requiredNumber(const nlohmann::json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_number()) {
    throw RecordDecodingError(std::string("text line without a number \"") + key + "\"");
  }
  return found->get<double>();
}

// The candidate as valid UTF-8 without leading and trailing white space and line breaks.
std::string trimmed(const std::string& candidate) {
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(
      candidate.data(), static_cast<int32_t>(std::min<std::size_t>(candidate.size(), INT32_MAX))));
  int32_t begin = 0;
  int32_t end = text.length();
  while (begin < end && u_isUWhiteSpace(text.char32At(begin))) {
    begin = text.moveIndex32(begin, 1);
  }
  while (end > begin) {
    const int32_t previous = text.moveIndex32(end, -1);
    if (!u_isUWhiteSpace(text.char32At(previous))) {
      break;
    }
    end = previous;
  }
  std::string result;
  text.tempSubStringBetween(begin, end).toUTF8String(result);
  return result;
}

// NaN sorts after every number so the ordering stays a strict weak order.
double orderedX(double x) {
  return std::isnan(x) ? std::numeric_limits<double>::infinity() : x;
}

}  // namespace

void to_json(nlohmann::json& json, const TextLine& line) {
  json = nlohmann::json{{"text", line.text},
                        {"x", finiteOrZero(line.x)},
                        {"y", finiteOrZero(line.y)},
                        {"w", finiteOrZero(line.w)},
                        {"h", finiteOrZero(line.h)}};
}

void from_json(const nlohmann::json& json, TextLine& line) {
  if (!json.is_object()) {
    throw RecordDecodingError("text line that is not an object");
  }
  const auto text = json.find("text");
  if (text == json.end() || !text->is_string()) {
    throw RecordDecodingError("text line without a string \"text\"");
  }
  line = TextLine{text->get<std::string>(), requiredNumber(json, "x"), requiredNumber(json, "y"),
                  requiredNumber(json, "w"), requiredNumber(json, "h")};
}

RecognizedObservation RecognizedObservation::fromPixelBox(std::optional<std::string> candidate,
                                                          double left, double top, double right,
                                                          double bottom, double imageWidth,
                                                          double imageHeight) {
  return RecognizedObservation{std::move(candidate), left / imageWidth, 1.0 - bottom / imageHeight,
                               (right - left) / imageWidth, (bottom - top) / imageHeight};
}

std::int64_t rowKey(const TextLine& line) {
  const double key = std::trunc((line.y + line.h * 0.5) * 100.0);
  if (std::isnan(key)) {
    return std::numeric_limits<std::int64_t>::max();
  }
  // Far outside any image; clamped so the conversion stays defined.
  constexpr double limit = 1e15;
  return static_cast<std::int64_t>(std::clamp(key, -limit, limit));
}

void sortInReadingOrder(std::vector<TextLine>& lines) {
  std::stable_sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
    const std::int64_t rowA = rowKey(a);
    const std::int64_t rowB = rowKey(b);
    if (rowA != rowB) {
      return rowA < rowB;
    }
    return orderedX(a.x) < orderedX(b.x);
  });
}

std::vector<TextLine> linesFromObservations(
    const std::vector<RecognizedObservation>& observations) {
  std::vector<TextLine> lines;
  lines.reserve(observations.size());
  for (const RecognizedObservation& observation : observations) {
    if (!observation.candidate) {
      continue;
    }
    std::string text = trimmed(*observation.candidate);
    if (text.empty()) {
      continue;
    }
    const double minY = finiteOrZero(observation.minY);
    const double height = finiteOrZero(observation.height);
    lines.push_back(TextLine{std::move(text), finiteOrZero(observation.minX), 1.0 - (minY + height),
                             finiteOrZero(observation.width), height});
  }
  sortInReadingOrder(lines);
  return lines;
}

}  // namespace vistrel
