#include "MoreAppsKit/MoreAppsList.h"

#include "MoreAppsKit/MoreAppsAddress.h"
#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel {

MoreAppsChoice& MoreAppsChoice::processWide() {
  static MoreAppsChoice choice;
  return choice;
}

std::optional<std::pair<MoreAppsFeed, MoreAppsSource>> MoreAppsChoice::chosen() const {
  std::lock_guard lock(mutex_);
  return chosen_;
}

void MoreAppsChoice::choose(MoreAppsFeed feed, MoreAppsSource source) {
  std::lock_guard lock(mutex_);
  chosen_.emplace(std::move(feed), source);
}

std::vector<MoreAppsEntry> filterForApp(const MoreAppsFeed& feed, const MoreAppsConfig& config) {
  std::vector<MoreAppsEntry> shown;
  for (const MoreAppsEntry& entry : feed.apps) {
    if (entry.id == config.thisApp)
      continue;
    if (entry.bundleId && config.bundleID && *entry.bundleId == *config.bundleID)
      continue;
    if (!config.isDirect) {
      const std::optional<MoreAppsAddress> address = MoreAppsAddress::parse(entry.url);
      if (!address || address->host != moreAppsSite().storeHost)
        continue;
    }
    shown.push_back(entry);
  }
  return shown;
}

MoreAppsList::MoreAppsList(MoreAppsConfig config, MoreAppsLoader loader, MoreAppsChoice* choice)
    : config_(std::move(config)), loader_(std::move(loader)), choice_(choice) {
  if (choice_ != nullptr) {
    if (auto chosen = choice_->chosen()) {
      show(chosen->first, chosen->second);
      return;
    }
  }
  std::optional<MoreAppsFeed> feed = loader_.cached();
  MoreAppsSource source = MoreAppsSource::cache;
  if (!feed && loader_.bundled) {
    if (std::optional<std::string> bytes = loader_.bundled()) {
      MoreAppsValidation result = validate(*bytes);
      if (auto* bundled = std::get_if<MoreAppsFeed>(&result))
        feed = std::move(*bundled);
    }
    source = MoreAppsSource::bundled;
  }
  if (!feed)
    return;
  show(*feed, source);
  if (choice_ != nullptr)
    choice_->choose(std::move(*feed), source);
}

bool MoreAppsList::refresh() {
  if (!config_.allowsNetwork)
    return false;
  std::optional<MoreAppsFeed> feed = loader_.refresh();
  if (!feed)
    return false;
  showNetworkCopy(std::move(*feed));
  return true;
}

void MoreAppsList::showNetworkCopy(MoreAppsFeed feed) {
  show(feed, MoreAppsSource::network);
  if (choice_ != nullptr)
    choice_->choose(std::move(feed), MoreAppsSource::network);
}

void MoreAppsList::show(const MoreAppsFeed& feed, MoreAppsSource source) {
  apps_ = filterForApp(feed, config_);
  source_ = source;
}

}  // namespace vistrel
