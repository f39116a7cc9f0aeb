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
// value falls back to that field's default, a bad list element is dropped, a bad file gives all
// defaults); writing is atomic.
// Not thread-safe against itself for the same file: the application saves from one thread.
namespace ConfigFile {

// The largest file taken for a settings file (a real one is a few kilobytes; this allows tens of
// thousands of excluded apps). Anything bigger is not one and gives the defaults, which bounds
// the memory a damaged or hostile file can take while it is parsed.
inline constexpr std::size_t maximumFileSize = 4 * 1024 * 1024;

// Never fails: an unreadable, oversized or invalid file gives the defaults, and so do a link and
// another user's file. The user's own file is made owner-only when others could read it.
VistrelConfig load(const std::filesystem::path& file);

// What a reading found. `exact` is false when the file held something the reading could not keep
// (it did not parse, was not a JSON object, could not be read, or had a value or list element
// of the wrong form): saving `config` over such a file would lose what the user wrote, so a
// caller saves only after the user changed a setting, and keeps the old file with keepAsBroken.
struct Reading {
  VistrelConfig config;
  bool exact = true;
};

// As load and decode, saying whether the reading was exact. A missing file is exact.
Reading readFile(const std::filesystem::path& file);
Reading read(std::string_view text);

// Renames the file to the same name with ".broken" added, replacing an older one; a missing
// file is not an error. Throws ConfigFileError.
void keepAsBroken(const std::filesystem::path& file);

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
