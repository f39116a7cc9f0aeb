#include "MoreAppsKit/network/MoreAppsNetworkTransport.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <cstdlib>

#include "MoreAppsKit/MoreAppsBundled.h"
#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel {
namespace {

QNetworkRequest networkRequest(const MoreAppsRequest& request,
                               const QList<QSslCertificate>& trustedCertificates) {
  QNetworkRequest result(QUrl(QString::fromStdString(request.url), QUrl::StrictMode));
  if (request.ignoreLocalCache) {
    result.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    result.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  }
  if (!request.sendCookies) {
    result.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    result.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
  }
  for (const auto& [name, value] : request.headers)
    result.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
  if (!trustedCertificates.isEmpty()) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(trustedCertificates);
    result.setSslConfiguration(tls);
  }
  return result;
}

std::optional<MoreAppsResponse> send(const MoreAppsRequest& request,
                                     const QList<QSslCertificate>& trustedCertificates) {
  QNetworkAccessManager manager;
  QNetworkReply* reply = manager.get(networkRequest(request, trustedCertificates));
  bool gaveUp = false;
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  // A feed larger than the validator accepts is refused anyway; stop a hostile server from
  // filling memory first.
  QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
    if (received > static_cast<qint64>(moreAppsMaxFeedBytes)) {
      gaveUp = true;
      reply->abort();
    }
  });
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
    gaveUp = true;
    reply->abort();
  });
  deadline.start(std::chrono::milliseconds(request.timeout));
  if (!reply->isFinished())
    loop.exec();
  deadline.stop();

  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // An HTTP error status is still an answer (304 among them); anything else is a failure.
  if (gaveUp || !status.isValid())
    return std::nullopt;
  MoreAppsResponse response;
  response.finalURL = reply->url().toString().toStdString();
  response.status = status.toInt();
  for (const auto& [name, value] : reply->rawHeaderPairs())
    response.headers[name.toLower().toStdString()] = value.toStdString();
  response.body = reply->readAll().toStdString();
  reply->deleteLater();
  return response;
}

}  // namespace

MoreAppsTransport moreAppsNetworkTransport(QList<QSslCertificate> trustedCertificates) {
  return [trustedCertificates = std::move(trustedCertificates)](const MoreAppsRequest& request) {
    return send(request, trustedCertificates);
  };
}

MoreAppsLoader moreAppsProductLoader() {
  const char* override = std::getenv("VISTREL_MORE_APPS_FEED_URL");
  return {
      override != nullptr && override[0] != '\0' ? std::string(override) : moreAppsSite().feedURL,
      MoreAppsLoader::defaultCacheDirectory(), moreAppsBundledFeed,
      [] { return std::chrono::system_clock::now(); }, moreAppsNetworkTransport()};
}

}  // namespace vistrel
