#include "Vistrel/cli/Session.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <exception>

#include "Vistrel/cli/TerminalText.h"
#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Texts.h"
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
  std::unique_ptr<PlatformKeyStore> store;
  try {
    store = makePlatformKeyStore(options);
  } catch (const KeyFileLocationError& error) {
    throw CommandFailure(error.what());
  }
  const KeyMoveReport report = store->moveReport();
  const std::string file = report.keyFile.string();
  switch (report.outcome) {
    case KeyMoveReport::Outcome::none:
      break;
    case KeyMoveReport::Outcome::moved:
      err_ << "Note: " << texts::keyMovedToKeyringNotice() << '\n';
      break;
    case KeyMoveReport::Outcome::keptBoth:
      err_ << "Note: " << texts::keyKeptBesideKeyringNotice(file) << '\n';
      break;
    case KeyMoveReport::Outcome::failed:
      err_ << "Note: " << texts::keyMoveFailedNotice(file, report.status) << '\n';
      break;
  }
  return store;
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
    auto library = FrameLibrary::open(dataFolder_, *store, create, Calendar::systemDefault());
    const auto* platform = dynamic_cast<const PlatformKeyStore*>(store.get());
    if (platform != nullptr && platform->createdKeyFileWithoutKeyring() && platform->keyFile())
      err_ << "Note: " << texts::keyFileWithoutKeyringNotice(platform->keyFile()->string()) << '\n';
    return library;
  } catch (const VistrelCryptoError& error) {
    if (error.kind() == VistrelCryptoError::Kind::wrongKey ||
        error.kind() == VistrelCryptoError::Kind::unreachable)
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
