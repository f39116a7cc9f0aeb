#pragma once

#include <optional>
#include <string_view>

#include "VistrelKit/library/FrameRecords.h"

namespace vistrel {

// Reads frame metadata in the plain shape this program writes, several times faster than the
// general JSON decoder: search opens the metadata of thousands of candidate frames, and building a
// JSON tree for each was most of its cost.
//
// The shape: one object with "appName", "width", "height" and "lines" and optionally "bundleID"
// and "title" (strings or null), each key once; width and height written as integers; every line
// an object with a string "text" and numbers "x", "y", "w", "h", each once; nothing else. Gives
// nothing for any other text, valid or not: FrameMeta::decode then hands it to the general
// decoder, which decides. Whenever it gives a value, that value equals what the general decoder
// makes of the same text.
std::optional<FrameMeta> scanPlainFrameMeta(std::string_view json);

}  // namespace vistrel
