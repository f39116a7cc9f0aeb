#pragma once

#include <stdexcept>
#include <string>

namespace vistrel {

// A stored JSON record (frame metadata, application record, text line) could not be read: broken
// JSON, or a required key missing or of the wrong type. Optional keys never cause it.
class RecordDecodingError : public std::runtime_error {
 public:
  explicit RecordDecodingError(const std::string& detail)
      : std::runtime_error("A stored record could not be read (" + detail + ").") {}
};

}  // namespace vistrel
