#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "VistrelKit/settings/VistrelConfig.h"

namespace vistrel {

// A settings save that failed; what() is the text shown after "Couldn't save settings: ".
class ConfigFileError : public std::runtime_error {
 public:
  explicit ConfigFileError(const std::string& description, std::error_code code = {})
      : std::runtime_error(description), code_(code) {}

  // The operating system's error, when the failure came from the file system.
  std::error_code code() const { return code_; }

 private:
  std::error_code code_;
};

// The settings file "config.json": JSON, keys sorted, pretty-printed. Reading is tolerant (a bad
// value falls back to that field's default, a bad file to all defaults); writing is atomic.
// Not thread-safe against itself for the same file: the application saves from one thread.
namespace ConfigFile {

// The largest file taken for a settings file (a real one is a few kilobytes; this allows tens of
// thousands of excluded apps). Anything bigger is not one and gives the defaults, which bounds
// the memory a damaged or hostile file can take while it is parsed.
inline constexpr std::size_t maximumFileSize = 4 * 1024 * 1024;

// Never fails: an unreadable, oversized or invalid file gives the defaults.
VistrelConfig load(const std::filesystem::path& file);

// Creates missing folders (0700), writes a temporary file beside `file`, flushes it to disk and
// renames it over `file`. Throws ConfigFileError; on failure the old file is left as it was.
void save(const VistrelConfig& config, const std::filesystem::path& file);

// The JSON text of a record. Throws ConfigFileError when a value cannot be written as JSON
// (a number that is not finite, text that is not UTF-8).
std::string encode(const VistrelConfig& config);

// The record of a JSON text, with the tolerant reading rules. Never fails.
VistrelConfig decode(std::string_view text);

}  // namespace ConfigFile

}  // namespace vistrel
