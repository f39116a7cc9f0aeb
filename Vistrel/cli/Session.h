#pragma once

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "VistrelKit/keys/KeyStore.h"
#include "VistrelKit/settings/VistrelConfig.h"

namespace vistrel {
class FrameLibrary;
}

namespace vistrel::cli {

// The command line was wrong: exit status 2, the text and a pointer to --help on stderr.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command could not do what it was asked: exit status 1, what() on stderr.
class CommandFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* noHistoryText = "No history yet";

// What every command shares: where the data lives, which key store to use, the output form and
// the streams. Opening the library follows the application's rules: an existing library is
// opened with the key it was locked with, and only a command that says so may create one.
class Session {
 public:
  Session(std::filesystem::path dataFolder, std::optional<std::filesystem::path> keyFile, bool json,
          std::ostream& out, std::ostream& err);

  const std::filesystem::path& dataFolder() const { return dataFolder_; }
  const std::optional<std::filesystem::path>& keyFile() const { return keyFile_; }
  bool json() const { return json_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  std::filesystem::path configFile() const { return dataFolder_ / "config.json"; }
  // The effective settings: config.json read with the tolerant rules; never writes.
  VistrelConfig settings() const;

  // The explicit key file, or the platform's choice (which may ask the session bus).
  std::unique_ptr<KeyStore> keyStore() const;

  // The existing library. Throws CommandFailure "No history yet" when there is none (and then
  // touches nothing, not even the key store), and the wrong-key text when the key does not fit.
  std::shared_ptr<FrameLibrary> openLibrary();
  // The library, created with a new key when there is none.
  std::shared_ptr<FrameLibrary> openOrCreateLibrary();

  // Writes a JSON document (pretty) or one JSON line (compact); text that is not UTF-8 (a window
  // title from a misbehaving client) is written with replacement characters, and control and bidi
  // characters as \u escapes, so the value is exact and the terminal untouched.
  void printJSON(const nlohmann::ordered_json& value);
  void printJSONLine(const nlohmann::ordered_json& value);

 private:
  std::shared_ptr<FrameLibrary> open(bool create);

  std::filesystem::path dataFolder_;
  std::optional<std::filesystem::path> keyFile_;
  bool json_;
  std::ostream& out_;
  std::ostream& err_;
};

// Parsing of the values commands take, with usage errors that name the option.
std::int64_t parseInteger(const std::string& text, const std::string& what);
double parseNumber(const std::string& text, const std::string& what);

// Seconds since 1970, or null when absent.
nlohmann::ordered_json jsonDate(const std::optional<Date>& date);
nlohmann::ordered_json jsonText(const std::optional<std::string>& text);
// A moment for people: local date and time with seconds.
std::string localTimeText(Date date);

}  // namespace vistrel::cli
