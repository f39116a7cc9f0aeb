#include "MoreAppsKit/MoreAppsLoader.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "MoreAppsKit/MoreAppsAddress.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::system_clock;

constexpr const char* feedFileName = "more-apps.json";
constexpr const char* metaFileName = "more-apps.meta.json";
constexpr std::chrono::seconds checkInterval{86400};
// The record is a few hundred bytes; anything much larger is not ours.
constexpr std::size_t maxMetaBytes = 65536;
// Dates are stored like the settings file's: seconds since 2001-01-01 00:00 UTC.
constexpr double referenceDate2001 = 978307200.0;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// At most limit + 1 bytes of a regular file, so that an oversized file is recognised without
// reading all of it; none when there is no such file or it cannot be read. O_NONBLOCK: a FIFO
// put in the cache folder must not hang the reader.
std::optional<std::string> readRegularFile(const fs::path& file, std::size_t limit) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  std::string content(limit + 1, '\0');
  std::size_t total = 0;
  while (total < content.size()) {
    const ssize_t got = ::read(fd.get(), content.data() + total, content.size() - total);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return std::nullopt;
    if (got == 0)
      break;
    total += static_cast<std::size_t>(got);
  }
  content.resize(total);
  return content;
}

bool writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A reader sees the old file or the new one, never a part: a temporary file beside it, flushed,
// then renamed over it.
bool writeFileAtomically(const fs::path& file, std::string_view content) {
  std::string name = file.string() + ".XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return false;
  bool written = ::fchmod(fd, 0600) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(name.c_str(), file.c_str()) != 0) {
    ::unlink(name.c_str());
    return false;
  }
  return true;
}

bool createCacheFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  return !error && fs::is_directory(folder, error);
}

std::optional<std::string> optionalText(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string())
    return std::nullopt;
  return found->get<std::string>();
}

std::string encodeMeta(const MoreAppsLoader::Meta& meta) {
  json object = json::object();
  if (meta.etag)
    object["etag"] = *meta.etag;
  if (meta.lastModified)
    object["lastModified"] = *meta.lastModified;
  if (meta.checkedAt) {
    const std::chrono::duration<double> since1970 = meta.checkedAt->time_since_epoch();
    object["checkedAt"] = since1970.count() - referenceDate2001;
  }
  return object.dump(2) + "\n";
}

bool writeMeta(const fs::path& folder, const MoreAppsLoader::Meta& meta) {
  return createCacheFolder(folder) && writeFileAtomically(folder / metaFileName, encodeMeta(meta));
}

std::optional<std::string> header(const MoreAppsResponse& response, const std::string& name) {
  const auto found = response.headers.find(name);
  if (found == response.headers.end())
    return std::nullopt;
  return found->second;
}

fs::path homeFolder() {
  if (const passwd* entry = ::getpwuid(::getuid());
      entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
    return entry->pw_dir;
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' ? fs::path(home) : fs::path();
}

}  // namespace

MoreAppsLoader::Meta MoreAppsLoader::readMeta() const {
  Meta meta;
  const std::optional<std::string> text =
      readRegularFile(cacheDirectory / metaFileName, maxMetaBytes);
  if (!text || text->size() > maxMetaBytes)
    return meta;
  const json object = json::parse(*text, nullptr, false);
  if (object.is_discarded() || !object.is_object())
    return meta;
  meta.etag = optionalText(object, "etag");
  meta.lastModified = optionalText(object, "lastModified");
  const auto checkedAt = object.find("checkedAt");
  if (checkedAt != object.end() && checkedAt->is_number()) {
    const double seconds = checkedAt->get<double>() + referenceDate2001;
    // Beyond a few hundred thousand years the conversion to the clock's ticks would overflow.
    if (std::isfinite(seconds) && std::fabs(seconds) < 1e13)
      meta.checkedAt = Clock::time_point(
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  }
  return meta;
}

std::optional<MoreAppsFeed> MoreAppsLoader::cached() const {
  const std::optional<std::string> bytes =
      readRegularFile(cacheDirectory / feedFileName, moreAppsMaxFeedBytes);
  if (!bytes)
    return std::nullopt;
  MoreAppsValidation result = validate(*bytes);
  if (auto* feed = std::get_if<MoreAppsFeed>(&result))
    return std::move(*feed);
  return std::nullopt;
}

std::optional<MoreAppsFeed> MoreAppsLoader::refresh() const {
  Meta meta = readMeta();
  const Clock::time_point start = now();
  if (meta.checkedAt) {
    const auto age = start - *meta.checkedAt;
    if (age >= Clock::duration::zero() && age < checkInterval)
      return std::nullopt;
  }
  if (!cached()) {
    meta.etag.reset();
    meta.lastModified.reset();
  }
  // Recorded before the request, so that a failing request is not repeated for a day. The
  // folder may not exist yet on a first run; without it the record could not be kept and every
  // appearance of the list would ask again. A cache that cannot be written does not stop the
  // request.
  meta.checkedAt = start;
  writeMeta(cacheDirectory, meta);

  MoreAppsRequest request;
  request.url = feedURL;
  request.headers.emplace_back("Accept", "application/json");
  if (meta.etag)
    request.headers.emplace_back("If-None-Match", *meta.etag);
  if (meta.lastModified)
    request.headers.emplace_back("If-Modified-Since", *meta.lastModified);

  const std::optional<MoreAppsResponse> response = transport(request);
  if (!response)
    return std::nullopt;
  const std::optional<MoreAppsAddress> finalAddress = MoreAppsAddress::parse(response->finalURL);
  const std::optional<MoreAppsAddress> feedAddress = MoreAppsAddress::parse(feedURL);
  if (!finalAddress || !feedAddress || finalAddress->scheme != "https" ||
      finalAddress->host.empty() || finalAddress->host != feedAddress->host)
    return std::nullopt;
  if (response->status != 200)
    return std::nullopt;
  MoreAppsValidation result = validate(response->body);
  auto* feed = std::get_if<MoreAppsFeed>(&result);
  if (feed == nullptr)
    return std::nullopt;

  // The feed is good even when the cache cannot keep it: it is shown either way.
  if (createCacheFolder(cacheDirectory) &&
      writeFileAtomically(cacheDirectory / feedFileName, response->body)) {
    writeMeta(cacheDirectory,
              {header(*response, "etag"), header(*response, "last-modified"), now()});
  }
  return std::move(*feed);
}

fs::path MoreAppsLoader::defaultCacheDirectory() {
  // Relative values are invalid for XDG base directories and are ignored.
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/')
    return fs::path(cache) / "Vistrel";
  const fs::path home = homeFolder();
  return home.empty() ? fs::path() : home / ".cache" / "Vistrel";
}

}  // namespace vistrel
