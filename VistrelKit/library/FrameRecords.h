#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VistrelKit/base/Bytes.h"
#include "VistrelKit/base/Date.h"
#include "VistrelKit/library/RetentionPolicy.h"
#include "VistrelKit/search/TextLine.h"

// The plain value records that cross the frame library's boundary. FrameMeta and AppRecord also
// travel as compact JSON sealed into the database; their decoders throw RecordDecodingError (from
// "VistrelKit/library/RecordDecodingError.h") when JSON is broken or a required key is missing or mistyped,
// and read optional keys tolerantly (missing, null or mistyped = absent).
namespace vistrel {

// Everything about a frame except its pixels.
struct FrameMeta {
  std::string appName;
  std::optional<std::string> bundleID;
  std::optional<std::string> title;
  std::int64_t width = 0;       // of the stored image, in pixels
  std::int64_t height = 0;      // of the stored image, in pixels
  std::vector<TextLine> lines;  // in recognition order

  // The line texts joined with "\n"; empty without lines.
  std::string fullText() const;

  // fullText, title (empty when absent) and appName joined with "\n": what a frame is indexed
  // by and what a search hit is verified against.
  std::string indexText() const;

  // Keys "appName", "width", "height", "lines" always; "bundleID" and "title" only when present.
  nlohmann::json toJSON() const;
  static FrameMeta fromJSON(const nlohmann::json& json);

  // Compact JSON text, the form that is sealed. Malformed UTF-8 in a string (a window title from a
  // misbehaving client) is written as U+FFFD rather than failing the whole frame.
  std::string encode() const;
  static FrameMeta decode(std::string_view json);

  friend bool operator==(const FrameMeta&, const FrameMeta&) = default;
};

// The sealed content of an application row.
struct AppRecord {
  std::string name;
  std::optional<std::string> bundleID;  // the key is left out when absent

  nlohmann::json toJSON() const;
  static AppRecord fromJSON(const nlohmann::json& json);
  std::string encode() const;
  static AppRecord decode(std::string_view json);

  friend bool operator==(const AppRecord&, const AppRecord&) = default;
};

// A frame ready to be stored, built by the recorder.
struct NewFrame {
  Date date;
  FrameMeta meta;
  Bytes jpeg;       // the scaled screen image
  Bytes thumbnail;  // JPEG

  friend bool operator==(const NewFrame&, const NewFrame&) = default;
};

// The lightweight view of a frame row used by the timeline and by retention.
struct FrameStamp {
  std::int64_t id = 0;
  Date date;
  std::int64_t bytes = 0;  // the frame's storage estimate

  friend bool operator==(const FrameStamp&, const FrameStamp&) = default;
};

// A frame as listed in search results and opened in the detail view.
struct FrameSummary {
  std::int64_t id = 0;
  Date date;
  FrameMeta meta;
  Bytes thumbnail;                 // empty when a search could not open it
  std::vector<int> matchingLines;  // indexes into meta.lines with a match, ascending

  // The text shown for the frame in the result list: the first matching line and the one after
  // it joined with " · ", else the first line longer than 12 characters, else the first line.
  std::string snippet() const;

  friend bool operator==(const FrameSummary&, const FrameSummary&) = default;
};

// An application that has frames, for the application filter; `tag` is its identity.
struct AppEntry {
  Bytes tag;  // the keyed application tag, 16 bytes
  std::string name;
  std::optional<std::string> bundleID;
  std::int64_t count = 0;  // frames with this tag

  friend bool operator==(const AppEntry&, const AppEntry&) = default;
};

// Totals for the storage screen and the menu.
struct LibraryStats {
  std::int64_t frames = 0;
  std::int64_t bytes = 0;
  std::optional<Date> oldest;  // absent without frames
  std::optional<Date> newest;  // absent without frames
  std::int64_t today = 0;      // frames since the start of the current day

  friend bool operator==(const LibraryStats&, const LibraryStats&) = default;
};

}  // namespace vistrel

template <>
struct std::hash<vistrel::AppEntry> {
  std::size_t operator()(const vistrel::AppEntry& entry) const noexcept;
};
