#pragma once

#include <QList>
#include <QSslCertificate>

#include "MoreAppsKit/MoreAppsLoader.h"

namespace vistrel {

// The loader's transport over Qt Network. Each call makes its own QNetworkAccessManager in the
// calling thread and waits for the answer in a local event loop, so it belongs on a worker
// thread of a running QCoreApplication, never on a screen's thread. Gives up after the request's
// time-out and when the body grows larger than a feed may be. Redirects are followed (never from
// https to http); the response's finalURL says where the body came from.
//
// trustedCertificates: when not empty, the only certificate authorities trusted (tests);
// otherwise the system's.
MoreAppsTransport moreAppsNetworkTransport(QList<QSslCertificate> trustedCertificates = {});

// Vistrel's loader: the build's feed address (the environment variable VISTREL_MORE_APPS_FEED_URL
// replaces it, for tests), the cache folder, the shipped copy, the system clock and this
// transport.
MoreAppsLoader moreAppsProductLoader();

}  // namespace vistrel
