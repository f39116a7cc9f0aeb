#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vistrel {

// One recognized line of text with its box in normalized top-left coordinates: x and w are
// fractions of the image width, y (downward from the top) and h fractions of its height, so the
// same box fits the thumbnail and the full image.
struct TextLine {
  std::string text;  // trimmed, never empty
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;

  friend bool operator==(const TextLine&, const TextLine&) = default;
};

// JSON form: exactly the keys "text", "x", "y", "w", "h". Decoding requires all five (a string
// and four numbers) and throws RecordDecodingError otherwise. A non-finite number is written as 0
// because JSON has no such numbers and a null would make the whole frame unreadable.
void to_json(nlohmann::json& json, const TextLine& line);
void from_json(const nlohmann::json& json, TextLine& line);

// One observation as a text recognizer reports it: its best candidate, if any, and its bounding
// box in normalized coordinates with the origin at the bottom left and y upward.
struct RecognizedObservation {
  std::optional<std::string> candidate;
  double minX = 0;
  double minY = 0;
  double width = 0;
  double height = 0;

  // From a box in pixels with the origin at the top left (left/top inclusive, right/bottom
  // exclusive) in an image of the given size, as most recognizers outside the Apple world report.
  static RecognizedObservation fromPixelBox(std::optional<std::string> candidate, double left,
                                            double top, double right, double bottom,
                                            double imageWidth, double imageHeight);
};

// The row a line belongs to: its vertical centre in hundredths of the image height, truncated.
std::int64_t rowKey(const TextLine& line);

// Reading order: a stable sort by row key, then by x. Lines equal in both keep their order.
void sortInReadingOrder(std::vector<TextLine>& lines);

// Recognizer output as stored lines: observations without a candidate, or whose candidate is only
// white space and line breaks, are dropped; the rest are trimmed, their boxes converted to the
// top-left convention (y = 1 − (minY + height)) and the lines put in reading order. Malformed UTF-8
// in a candidate is replaced by U+FFFD and a non-finite box coordinate by 0, so every line can be
// stored, sorted and read back.
std::vector<TextLine> linesFromObservations(const std::vector<RecognizedObservation>& observations);

}  // namespace vistrel
