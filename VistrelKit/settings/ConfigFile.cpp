#include "VistrelKit/settings/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "VistrelKit/base/FileDescriptor.h"

namespace vistrel {

namespace {

using json = nlohmann::json;

constexpr const char* keyVersion = "version";
constexpr const char* keyCaptureEnabled = "captureEnabled";
constexpr const char* keyInterval = "interval";
constexpr const char* keyPauseShortcut = "pauseShortcut";
constexpr const char* keyPausedUntil = "pausedUntil";
constexpr const char* keyRetentionDays = "retentionDays";
constexpr const char* keyCapGB = "capGB";
constexpr const char* keyExcludedApps = "excludedApps";
constexpr const char* keyExcludedTitleWords = "excludedTitleWords";
constexpr const char* keySkipPrivateWindows = "skipPrivateWindows";
constexpr const char* keySkipSecureInput = "skipSecureInput";
constexpr const char* keyStopWhenIdle = "stopWhenIdle";
constexpr const char* keyIdleMinutes = "idleMinutes";
constexpr const char* keyMaxWidth = "maxWidth";
constexpr const char* keyOnboardingDone = "onboardingDone";

const std::set<std::string, std::less<>>& recordKeys() {
  static const std::set<std::string, std::less<>> keys{
      keyCaptureEnabled,     keyInterval,        keyPauseShortcut, keyPausedUntil,
      keyRetentionDays,      keyCapGB,           keyExcludedApps,  keyExcludedTitleWords,
      keySkipPrivateWindows, keySkipSecureInput, keyStopWhenIdle,  keyIdleMinutes,
      keyMaxWidth,           keyOnboardingDone};
  return keys;
}

// The settings values are at most three containers deep (list, app, field); a little room is
// left for unknown keys inside a value. Anything deeper is treated as a wrong type.
constexpr std::size_t maximumValueDepth = 8;

// Streams the parse and keeps only the values of the record's own top-level keys, so hostile
// input (deep nesting, huge unknown values) costs no memory beyond a depth counter.
class RecordFilter : public json::json_sax_t {
 public:
  // The kept values, or nothing when the text is not JSON or its top level is not an object.
  std::optional<json> take(bool parsed) {
    if (!parsed || !sawTopObject_)
      return std::nullopt;
    return std::move(kept_);
  }

  bool null() override { return scalar(json(nullptr)); }
  bool boolean(bool value) override { return scalar(json(value)); }
  bool number_integer(number_integer_t value) override { return scalar(json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return scalar(json(value)); }
  bool number_float(number_float_t value, const string_t&) override { return scalar(json(value)); }
  bool string(string_t& value) override { return scalar(json(std::move(value))); }
  bool binary(binary_t&) override { return false; }

  bool start_object(std::size_t) override { return open(json::value_t::object); }
  bool start_array(std::size_t) override { return open(json::value_t::array); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    if (depth_ == 1) {
      capturing_ = recordKeys().contains(name);
      topKey_ = capturing_ ? std::move(name) : std::string();
    } else if (capturing_ && !tooDeep_) {
      memberKey_ = std::move(name);
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool scalar(json value) {
    if (depth_ == 0)
      return false;  // a top level that is not an object
    if (!capturing_ || tooDeep_)
      return true;
    if (depth_ == 1) {
      kept_[topKey_] = std::move(value);
      capturing_ = false;
      return true;
    }
    insert(std::move(value));
    return true;
  }

  bool open(json::value_t type) {
    if (depth_ == 0) {
      if (type != json::value_t::object)
        return false;
      sawTopObject_ = true;
      kept_ = json::object();
      depth_ = 1;
      return true;
    }
    ++depth_;
    if (!capturing_ || tooDeep_)
      return true;
    if (depth_ == 2) {
      value_ = json(type);
      stack_.assign(1, &value_);
      return true;
    }
    if (stack_.size() >= maximumValueDepth) {
      tooDeep_ = true;
      return true;
    }
    stack_.push_back(insert(json(type)));
    return true;
  }

  bool close() {
    --depth_;
    if (depth_ == 0 || !capturing_)
      return true;
    if (depth_ > 1) {
      if (!tooDeep_ && !stack_.empty())
        stack_.pop_back();
      return true;
    }
    // The value of a top-level key is complete.
    if (tooDeep_) {
      kept_.erase(topKey_);
    } else {
      kept_[topKey_] = std::move(value_);
    }
    stack_.clear();
    tooDeep_ = false;
    capturing_ = false;
    return true;
  }

  json* insert(json value) {
    json& container = *stack_.back();
    if (container.is_array()) {
      container.push_back(std::move(value));
      return &container.back();
    }
    json& slot = container[memberKey_];
    slot = std::move(value);
    return &slot;
  }

  std::size_t depth_ = 0;
  bool sawTopObject_ = false;
  bool capturing_ = false;
  bool tooDeep_ = false;
  std::string topKey_;
  std::string memberKey_;
  json kept_;
  json value_;
  std::vector<json*> stack_;
};

// Typed reading of one value; nothing when the value has another type or does not fit.

std::optional<bool> readBool(const json& value) {
  if (!value.is_boolean())
    return std::nullopt;
  return value.get<bool>();
}

std::optional<double> readDouble(const json& value) {
  if (!value.is_number())
    return std::nullopt;
  const double number = value.get<double>();
  if (!std::isfinite(number))
    return std::nullopt;
  return number;
}

template <typename Integer>
std::optional<Integer> readInteger(const json& value) {
  using Limits = std::numeric_limits<Integer>;
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > static_cast<std::uint64_t>(Limits::max()))
      return std::nullopt;
    return static_cast<Integer>(number);
  }
  if (value.is_number_integer()) {
    const auto number = value.get<std::int64_t>();
    if (number < static_cast<std::int64_t>(Limits::min()))
      return std::nullopt;
    if (number > 0 && static_cast<std::uint64_t>(number) > Limits::max())
      return std::nullopt;
    return static_cast<Integer>(number);
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // Both bounds are exactly representable as doubles for the integer types used here.
    if (!std::isfinite(number) || std::trunc(number) != number)
      return std::nullopt;
    if (number < static_cast<double>(Limits::min()) ||
        number > static_cast<double>(Limits::max())) {
      return std::nullopt;
    }
    return static_cast<Integer>(number);
  }
  return std::nullopt;
}

// Moves the text out: the parsed document is thrown away after decoding, and a long list of
// words should not be held twice.
std::optional<std::string> readString(json& value) {
  if (!value.is_string())
    return std::nullopt;
  return std::move(value.get_ref<std::string&>());
}

std::optional<Date> readDate(const json& value) {
  const auto seconds = readDouble(value);
  if (!seconds)
    return std::nullopt;
  return dateFromSeconds2001(*seconds);
}

std::optional<Shortcut> readShortcut(const json& value) {
  if (!value.is_object())
    return std::nullopt;
  const auto keyCode = value.find("keyCode");
  const auto modifiers = value.find("modifiers");
  if (keyCode == value.end() || modifiers == value.end())
    return std::nullopt;
  const auto code = readInteger<std::uint32_t>(*keyCode);
  const auto raw = readInteger<int>(*modifiers);
  if (!code || !raw)
    return std::nullopt;
  return Shortcut{*code, Modifiers{*raw}};
}

std::optional<ExcludedApp> readExcludedApp(json& value) {
  if (!value.is_object())
    return std::nullopt;
  const auto bundleID = value.find("bundleID");
  const auto name = value.find("name");
  if (bundleID == value.end() || name == value.end())
    return std::nullopt;
  auto id = readString(*bundleID);
  auto display = readString(*name);
  if (!id || !display)
    return std::nullopt;
  return ExcludedApp{std::move(*id), std::move(*display)};
}

// A list keeps every element that decodes; a bad one costs only itself, so one damaged entry
// cannot take the user's other exclusions with it. A list whose every element is bad falls back to
// the default like any other unreadable value: an empty list would switch the protection off.
template <typename Element, typename Reader>
auto listReader(Reader readElement, bool& exact) {
  return [readElement, &exact](json& value) -> std::optional<std::vector<Element>> {
    if (!value.is_array())
      return std::nullopt;
    std::vector<Element> list;
    list.reserve(value.size());
    for (auto& element : value) {
      if (auto item = readElement(element))
        list.push_back(std::move(*item));
      else
        exact = false;
    }
    if (list.empty() && !value.empty())
      return std::nullopt;
    return list;
  };
}

// Takes the field's stored value when the key is present and decodes, else keeps the default
// and notes that the file held something this reading could not keep.
template <typename Field, typename Reader>
void readField(json& object, const char* key, Field& field, Reader reader, bool& exact) {
  const auto found = object.find(key);
  if (found == object.end())
    return;
  if (auto value = reader(*found))
    field = std::move(*value);
  else
    exact = false;
}

ConfigFile::Reading decodeRecord(json& object) {
  ConfigFile::Reading reading;
  VistrelConfig& config = reading.config;
  bool& exact = reading.exact;
  readField(object, keyCaptureEnabled, config.captureEnabled, readBool, exact);
  readField(object, keyInterval, config.interval, readDouble, exact);
  readField(object, keyPauseShortcut, config.pauseShortcut, readShortcut, exact);
  readField(object, keyPausedUntil, config.pausedUntil, readDate, exact);
  readField(object, keyRetentionDays, config.retentionDays, readInteger<int>, exact);
  readField(object, keyCapGB, config.capGB, readDouble, exact);
  readField(object, keyExcludedApps, config.excludedApps,
            listReader<ExcludedApp>(readExcludedApp, exact), exact);
  readField(object, keyExcludedTitleWords, config.excludedTitleWords,
            listReader<std::string>(readString, exact), exact);
  readField(object, keySkipPrivateWindows, config.skipPrivateWindows, readBool, exact);
  readField(object, keySkipSecureInput, config.skipSecureInput, readBool, exact);
  readField(object, keyStopWhenIdle, config.stopWhenIdle, readBool, exact);
  readField(object, keyIdleMinutes, config.idleMinutes, readDouble, exact);
  readField(object, keyMaxWidth, config.maxWidth, readInteger<int>, exact);
  readField(object, keyOnboardingDone, config.onboardingDone, readBool, exact);
  config.version = 1;
  return reading;
}

json finiteNumber(double value, const char* key) {
  if (!std::isfinite(value)) {
    throw ConfigFileError(std::string("The setting \u201C") + key +
                          "\u201D is not a finite number.");
  }
  return json(value);
}

// --- File system -------------------------------------------------------------------------------

[[noreturn]] void throwSystemError(int error, const std::filesystem::path& path) {
  const std::error_code code(error, std::generic_category());
  throw ConfigFileError(code.message() + " (" + path.string() + ")", code);
}

std::optional<std::string> readWholeFile(const std::filesystem::path& file) {
  // Non-blocking so that a FIFO in the file's place cannot hang the launch; not through a link,
  // which could lead to settings someone else wrote.
  FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!descriptor.valid())
    return std::nullopt;
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode))
    return std::nullopt;
  // Another user's file could turn capture on or empty the exclusions: it is not the user's
  // settings. The user's own file that others can read shows them what is excluded.
  if (status.st_uid != ::geteuid())
    return std::nullopt;
  if ((status.st_mode & 077) != 0 && ::fchmod(descriptor.get(), 0600) != 0)
    return std::nullopt;
  if (status.st_size < 0 ||
      static_cast<std::uint64_t>(status.st_size) > ConfigFile::maximumFileSize) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t length = 0;
  while (true) {
    if (length == text.size()) {
      // The file may have grown since fstat; keep reading up to the limit.
      if (text.size() > ConfigFile::maximumFileSize)
        return std::nullopt;
      text.resize(std::min(ConfigFile::maximumFileSize + 1, text.size() + 64 * 1024));
    }
    const ssize_t count = ::read(descriptor.get(), text.data() + length, text.size() - length);
    if (count < 0) {
      if (errno == EINTR)
        continue;
      return std::nullopt;
    }
    if (count == 0)
      break;
    length += static_cast<std::size_t>(count);
  }
  if (length > ConfigFile::maximumFileSize)
    return std::nullopt;
  text.resize(length);
  return text;
}

// Creates `folder` and its missing ancestors; only folders created here get 0700.
void createFolders(const std::filesystem::path& folder) {
  if (folder.empty())
    return;
  std::filesystem::path prefix;
  for (const auto& part : folder) {
    prefix /= part;
    struct stat status {};
    if (::stat(prefix.c_str(), &status) == 0) {
      if (!S_ISDIR(status.st_mode))
        throwSystemError(ENOTDIR, prefix);
      continue;
    }
    if (errno != ENOENT)
      throwSystemError(errno, prefix);
    if (::mkdir(prefix.c_str(), 0700) != 0) {
      if (errno != EEXIST)
        throwSystemError(errno, prefix);
      continue;  // created meanwhile by someone else: theirs to keep
    }
    // The umask may have taken bits away or a sticky umask may be odd: set exactly 0700.
    if (::chmod(prefix.c_str(), 0700) != 0)
      throwSystemError(errno, prefix);
  }
}

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR)
        continue;
      throwSystemError(errno, path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

void syncFolder(const std::filesystem::path& folder) {
  FileDescriptor descriptor(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The rename has happened; a folder that cannot be synced only weakens crash durability.
  if (descriptor.valid())
    ::fsync(descriptor.get());
}

void writeAtomically(const std::filesystem::path& file, std::string_view bytes) {
  const std::filesystem::path folder = file.parent_path();
  // A fixed name: a temporary file left by a crash is reused by the next save, not piled up.
  std::filesystem::path temporary = file;
  temporary += ".tmp";

  FileDescriptor descriptor(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!descriptor.valid())
    throwSystemError(errno, temporary);
  try {
    if (::fchmod(descriptor.get(), 0600) != 0)
      throwSystemError(errno, temporary);
    writeAll(descriptor.get(), bytes, temporary);
    if (::fsync(descriptor.get()) != 0)
      throwSystemError(errno, temporary);
    if (descriptor.close() != 0)
      throwSystemError(errno, temporary);
    if (::rename(temporary.c_str(), file.c_str()) != 0)
      throwSystemError(errno, file);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  syncFolder(folder);
}

}  // namespace

namespace ConfigFile {

std::string encode(const VistrelConfig& config) {
  json apps = json::array();
  for (const auto& app : config.excludedApps) {
    apps.push_back(json{{"bundleID", app.bundleID}, {"name", app.name}});
  }
  json object{
      {keyVersion, 1},
      {keyCaptureEnabled, config.captureEnabled},
      {keyInterval, finiteNumber(config.interval, keyInterval)},
      {keyPauseShortcut, json{{"keyCode", config.pauseShortcut.keyCode},
                              {"modifiers", config.pauseShortcut.modifiers.rawValue}}},
      {keyRetentionDays, config.retentionDays},
      {keyCapGB, finiteNumber(config.capGB, keyCapGB)},
      {keyExcludedApps, std::move(apps)},
      {keyExcludedTitleWords, config.excludedTitleWords},
      {keySkipPrivateWindows, config.skipPrivateWindows},
      {keySkipSecureInput, config.skipSecureInput},
      {keyStopWhenIdle, config.stopWhenIdle},
      {keyIdleMinutes, finiteNumber(config.idleMinutes, keyIdleMinutes)},
      {keyMaxWidth, config.maxWidth},
      {keyOnboardingDone, config.onboardingDone},
  };
  if (config.pausedUntil) {
    object[keyPausedUntil] = finiteNumber(secondsSince2001(*config.pausedUntil), keyPausedUntil);
  }
  try {
    // nlohmann's object keeps its keys sorted, so the output is sorted at every level.
    return object.dump(2) + "\n";
  } catch (const json::type_error&) {
    throw ConfigFileError("The settings hold text that is not valid UTF-8.");
  }
}

Reading read(std::string_view text) {
  RecordFilter filter;
  bool parsed = false;
  try {
    parsed = json::sax_parse(text.begin(), text.end(), &filter);
  } catch (const json::exception&) {
    parsed = false;
  }
  auto object = filter.take(parsed);
  if (!object)
    return Reading{VistrelConfig{}, false};
  return decodeRecord(*object);
}

VistrelConfig decode(std::string_view text) {
  return read(text).config;
}

Reading readFile(const std::filesystem::path& file) {
  const auto text = readWholeFile(file);
  if (!text) {
    struct stat status {};
    const bool missing = ::lstat(file.c_str(), &status) != 0 && errno == ENOENT;
    return Reading{VistrelConfig{}, missing};
  }
  return read(*text);
}

VistrelConfig load(const std::filesystem::path& file) {
  return readFile(file).config;
}

void keepAsBroken(const std::filesystem::path& file) {
  std::filesystem::path broken = file;
  broken += ".broken";
  if (::rename(file.c_str(), broken.c_str()) != 0 && errno != ENOENT)
    throwSystemError(errno, file);
  syncFolder(file.parent_path());
}

void save(const VistrelConfig& config, const std::filesystem::path& file) {
  const std::string text = encode(config);
  createFolders(file.parent_path());
  writeAtomically(file, text);
}

}  // namespace ConfigFile

}  // namespace vistrel
