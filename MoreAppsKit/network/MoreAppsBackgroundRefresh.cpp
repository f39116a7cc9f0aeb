#include "MoreAppsKit/network/MoreAppsBackgroundRefresh.h"

#include <QThread>
#include <memory>

namespace vistrel {

void refreshInBackground(MoreAppsLoader loader, QObject* context,
                         std::function<void(std::optional<MoreAppsFeed>)> done) {
  auto result = std::make_shared<std::optional<MoreAppsFeed>>();
  // Not parented to the context: a window closed mid-request must not destroy a running thread.
  QThread* thread =
      QThread::create([loader = std::move(loader), result] { *result = loader.refresh(); });
  // Connected to the context, Qt delivers on the context's thread and drops the call once the
  // context is destroyed.
  QObject::connect(thread, &QThread::finished, context,
                   [result, done = std::move(done)] { done(std::move(*result)); });
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

}  // namespace vistrel
