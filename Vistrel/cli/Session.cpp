#include "Vistrel/cli/Session.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <exception>

#include "Vistrel/cli/TerminalText.h"
#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/PlatformKeyStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/settings/ConfigFile.h"

namespace vistrel::cli {

Session::Session(std::filesystem::path dataFolder, std::optional<std::filesystem::path> keyFile,
                 bool json, std::ostream& out, std::ostream& err)
    : dataFolder_(std::move(dataFolder)),
      keyFile_(std::move(keyFile)),
      json_(json),
      out_(out),
      err_(err) {}

VistrelConfig Session::settings() const {
  return ConfigFile::load(configFile());
}

std::unique_ptr<KeyStore> Session::keyStore() const {
  PlatformKeyStoreOptions options;
  options.dataFolder = dataFolder_;
  if (keyFile_)
    options.keyFile = *keyFile_;
  try {
    return makePlatformKeyStore(options);
  } catch (const KeyFileLocationError& error) {
    throw CommandFailure(error.what());
  }
}

std::shared_ptr<FrameLibrary> Session::openLibrary() {
  // Checked before the key store is made: asking the session bus, or reading a key file, is
  // needless when there is nothing to unlock.
  if (!FrameLibrary::exists(dataFolder_))
    throw CommandFailure(noHistoryText);
  auto library = open(false);
  if (!library)
    throw CommandFailure(noHistoryText);
  return library;
}

std::shared_ptr<FrameLibrary> Session::openOrCreateLibrary() {
  return open(true);
}

std::shared_ptr<FrameLibrary> Session::open(bool create) {
  std::unique_ptr<KeyStore> store = keyStore();
  try {
    return FrameLibrary::open(dataFolder_, *store, create, Calendar::systemDefault());
  } catch (const VistrelCryptoError& error) {
    if (error.kind() == VistrelCryptoError::Kind::wrongKey)
      throw CommandFailure(error.what());
    throw CommandFailure(std::string("Couldn't open the history: ") + error.what());
  } catch (const std::filesystem::filesystem_error& error) {
    throw CommandFailure("Couldn't open the history: " + error.code().message() + " (" +
                         error.path1().string() + ")");
  } catch (const std::exception& error) {
    throw CommandFailure(std::string("Couldn't open the history: ") + error.what());
  }
}

void Session::printJSON(const nlohmann::ordered_json& value) {
  out_ << terminalSafeJSON(
              value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace))
       << '\n';
}

void Session::printJSONLine(const nlohmann::ordered_json& value) {
  out_ << terminalSafeJSON(
              value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace))
       << std::endl;
}

std::int64_t parseInteger(const std::string& text, const std::string& what) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end)
    throw UsageError(what + " must be a whole number, not \"" + text + "\".");
  return value;
}

double parseNumber(const std::string& text, const std::string& what) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
    throw UsageError(what + " must be a number, not \"" + text + "\".");
  return value;
}

nlohmann::ordered_json jsonDate(const std::optional<Date>& date) {
  if (!date)
    return nullptr;
  return secondsSince1970(*date);
}

nlohmann::ordered_json jsonText(const std::optional<std::string>& text) {
  if (!text)
    return nullptr;
  return *text;
}

std::string localTimeText(Date date) {
  const auto seconds = static_cast<std::time_t>(std::floor(secondsSince1970(date)));
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr)
    return std::to_string(secondsSince1970(date));
  char buffer[32];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, length);
}

}  // namespace vistrel::cli
