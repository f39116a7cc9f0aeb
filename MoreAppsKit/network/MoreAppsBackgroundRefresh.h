#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "MoreAppsKit/MoreAppsLoader.h"

namespace vistrel {

// Runs loader.refresh() on a thread of its own, so that a screen never waits for the network,
// and hands the result to done on context's thread. When context is gone by then, done is not
// called. A typical use: refreshInBackground(list.loader(), window, [&list](auto feed) {
//   if (feed) list.showNetworkCopy(std::move(*feed)); });
void refreshInBackground(MoreAppsLoader loader, QObject* context,
                         std::function<void(std::optional<MoreAppsFeed>)> done);

}  // namespace vistrel
