#include "VistrelKit/library/FrameRecords.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "VistrelKit/library/FrameMetaScanner.h"
#include "VistrelKit/library/RecordDecodingError.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {
namespace {

void requireObject(const nlohmann::json& json, const char* record) {
  if (!json.is_object()) {
    throw RecordDecodingError(std::string(record) + " that is not a JSON object");
  }
}

std::string requiredString(const nlohmann::json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_string()) {
    throw RecordDecodingError(std::string("no string \"") + key + "\"");
  }
  return found->get<std::string>();
}

// JSON numbers written by other encoders may carry a fraction part of zero (1600.0).
std::int64_t requiredInteger(const nlohmann::json& json, const char* key) {
  const auto found = json.find(key);
  if (found != json.end()) {
    if (found->is_number_integer()) {
      if (found->is_number_unsigned() &&
          found->get<std::uint64_t>() >
              static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        throw RecordDecodingError(std::string("\"") + key + "\" out of range");
      }
      return found->get<std::int64_t>();
    }
    if (found->is_number_float()) {
      const double value = found->get<double>();
      if (std::trunc(value) == value && std::abs(value) < 9.0e18) {
        return static_cast<std::int64_t>(value);
      }
    }
  }
  throw RecordDecodingError(std::string("no integer \"") + key + "\"");
}

std::optional<std::string> optionalString(const nlohmann::json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_string()) {
    return std::nullopt;
  }
  return found->get<std::string>();
}

nlohmann::json parse(std::string_view text) {
  nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    throw RecordDecodingError("broken JSON");
  }
  return json;
}

std::string compact(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string FrameMeta::fullText() const {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      text += '\n';
    }
    text += lines[i].text;
  }
  return text;
}

std::string FrameMeta::indexText() const {
  return fullText() + '\n' + title.value_or("") + '\n' + appName;
}

nlohmann::json FrameMeta::toJSON() const {
  nlohmann::json json = {
      {"appName", appName}, {"width", width}, {"height", height}, {"lines", lines}};
  if (bundleID) {
    json["bundleID"] = *bundleID;
  }
  if (title) {
    json["title"] = *title;
  }
  return json;
}

FrameMeta FrameMeta::fromJSON(const nlohmann::json& json) {
  requireObject(json, "frame metadata");
  const auto lines = json.find("lines");
  if (lines == json.end() || !lines->is_array()) {
    throw RecordDecodingError("no array \"lines\"");
  }
  FrameMeta meta{requiredString(json, "appName"), optionalString(json, "bundleID"),
                 optionalString(json, "title"),   requiredInteger(json, "width"),
                 requiredInteger(json, "height"), {}};
  meta.lines.reserve(lines->size());
  for (const nlohmann::json& line : *lines) {
    meta.lines.push_back(line.get<TextLine>());
  }
  return meta;
}

std::string FrameMeta::encode() const {
  return compact(toJSON());
}

FrameMeta FrameMeta::decode(std::string_view json) {
  if (std::optional<FrameMeta> plain = scanPlainFrameMeta(json)) {
    return std::move(*plain);
  }
  return fromJSON(parse(json));
}

nlohmann::json AppRecord::toJSON() const {
  nlohmann::json json = {{"name", name}};
  if (bundleID) {
    json["bundleID"] = *bundleID;
  }
  return json;
}

AppRecord AppRecord::fromJSON(const nlohmann::json& json) {
  requireObject(json, "application record");
  return AppRecord{requiredString(json, "name"), optionalString(json, "bundleID")};
}

std::string AppRecord::encode() const {
  return compact(toJSON());
}

AppRecord AppRecord::decode(std::string_view json) {
  return fromJSON(parse(json));
}

std::string FrameSummary::snippet() const {
  const auto& lines = meta.lines;
  if (!matchingLines.empty() && matchingLines.front() >= 0 &&
      static_cast<std::size_t>(matchingLines.front()) < lines.size()) {
    const auto first = static_cast<std::size_t>(matchingLines.front());
    if (first + 1 < lines.size()) {
      return lines[first].text + " \u00B7 " + lines[first + 1].text;
    }
    return lines[first].text;
  }
  constexpr std::size_t longEnough = 12;
  for (const TextLine& line : lines) {
    if (TextIndex::characterCount(line.text) > longEnough) {
      return line.text;
    }
  }
  return lines.empty() ? std::string() : lines.front().text;
}

}  // namespace vistrel

std::size_t std::hash<vistrel::AppEntry>::operator()(
    const vistrel::AppEntry& entry) const noexcept {
  const std::string_view tag(reinterpret_cast<const char*>(entry.tag.data()), entry.tag.size());
  std::size_t seed = std::hash<std::string_view>{}(tag);
  const auto combine = [&seed](std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  };
  combine(std::hash<std::string>{}(entry.name));
  combine(std::hash<std::optional<std::string>>{}(entry.bundleID));
  combine(std::hash<std::int64_t>{}(entry.count));
  return seed;
}
