#pragma once

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "MoreAppsKit/MoreAppsConfig.h"
#include "MoreAppsKit/MoreAppsFeed.h"
#include "MoreAppsKit/MoreAppsLoader.h"

namespace vistrel {

// Where the shown list came from.
enum class MoreAppsSource { network, cache, bundled, none };

// The feed a process has chosen, so that every list opened later in the process starts from it
// instead of the disk. Safe for concurrent use.
class MoreAppsChoice {
 public:
  // The one choice of this process; lives until exit.
  static MoreAppsChoice& processWide();

  std::optional<std::pair<MoreAppsFeed, MoreAppsSource>> chosen() const;
  void choose(MoreAppsFeed feed, MoreAppsSource source);

 private:
  mutable std::mutex mutex_;
  std::optional<std::pair<MoreAppsFeed, MoreAppsSource>> chosen_;
};

// The entries to show of a feed: without this application (by feed id or application ID) and,
// for a store build, only those in the store.
std::vector<MoreAppsEntry> filterForApp(const MoreAppsFeed& feed, const MoreAppsConfig& config);

// The list a screen shows. Created from what is at hand without waiting for the network: the
// process's earlier choice, else the cache, else the shipped copy, else nothing.
//
// Not thread-safe: one thread owns it. refresh() blocks on the network; a screen that must not
// block runs loader().refresh() elsewhere and hands the result to showNetworkCopy().
class MoreAppsList {
 public:
  // choice: where the process's choice is kept; nullptr for a list that shares nothing.
  MoreAppsList(MoreAppsConfig config, MoreAppsLoader loader,
               MoreAppsChoice* choice = &MoreAppsChoice::processWide());

  const std::vector<MoreAppsEntry>& apps() const { return apps_; }
  MoreAppsSource source() const { return source_; }
  const MoreAppsConfig& config() const { return config_; }
  const MoreAppsLoader& loader() const { return loader_; }

  // When the network is allowed, asks the loader for a new copy and shows it. True when the list
  // changed; every failure leaves it as it was.
  bool refresh();
  // Shows a feed the loader brought from the network (source network) and makes it the
  // process's choice.
  void showNetworkCopy(MoreAppsFeed feed);

 private:
  void show(const MoreAppsFeed& feed, MoreAppsSource source);

  MoreAppsConfig config_;
  MoreAppsLoader loader_;
  MoreAppsChoice* choice_;
  std::vector<MoreAppsEntry> apps_;
  MoreAppsSource source_ = MoreAppsSource::none;
};

}  // namespace vistrel
