#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MoreAppsKit/MoreAppsFeed.h"

namespace vistrel {

struct MoreAppsRequest {
  std::string url;
  // In order: "Accept", then "If-None-Match" and "If-Modified-Since" when known.
  std::vector<std::pair<std::string, std::string>> headers;
  std::chrono::seconds timeout{5};
  // The transport must not answer from a local HTTP cache and must send no cookies.
  bool ignoreLocalCache = true;
  bool sendCookies = false;
};

struct MoreAppsResponse {
  // The address the body finally came from, after any redirects.
  std::string finalURL;
  int status = 0;
  // By lowercase header name.
  std::map<std::string, std::string> headers;
  std::string body;
};

// The HTTP client: none when the request failed (no network, time-out, TLS error, a body larger
// than the feed may be). May block for the request's time-out.
using MoreAppsTransport = std::function<std::optional<MoreAppsResponse>(const MoreAppsRequest&)>;

using MoreAppsClock = std::function<std::chrono::system_clock::time_point()>;

// Fetches the feed at most once a day with conditional requests and keeps the last good copy
// in the cache folder ("more-apps.json" and its record "more-apps.meta.json").
//
// A value; copies share nothing but the cache folder. Not safe for concurrent refreshes of one
// folder; cached() and refresh() block on file access, refresh() also on the transport (up to
// its 5 s time-out), so a screen calls them off its main thread.
struct MoreAppsLoader {
  // The cache's companion record.
  struct Meta {
    std::optional<std::string> etag;
    std::optional<std::string> lastModified;
    std::optional<std::chrono::system_clock::time_point> checkedAt;
    friend bool operator==(const Meta&, const Meta&) = default;
  };

  std::string feedURL;
  std::filesystem::path cacheDirectory;
  std::function<std::optional<std::string>()> bundled;
  MoreAppsClock now;
  MoreAppsTransport transport;

  // The validated feed in the cache folder, or none.
  std::optional<MoreAppsFeed> cached() const;
  // A new validated feed from the network, or none when nothing new arrived: not due yet, not
  // modified, failed, refused. Only a feed that passed validation replaces the cache.
  std::optional<MoreAppsFeed> refresh() const;

  // The record in the cache folder; a missing or unreadable one is empty, mistyped keys are
  // absent.
  Meta readMeta() const;

  // $XDG_CACHE_HOME/Vistrel, else ~/.cache/Vistrel; empty when no home folder is known.
  static std::filesystem::path defaultCacheDirectory();
};

}  // namespace vistrel
