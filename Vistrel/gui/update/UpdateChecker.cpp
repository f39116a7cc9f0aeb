#include "Vistrel/gui/update/UpdateChecker.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QVersionNumber>

namespace vistrel {
namespace {

constexpr int probeTimeoutMs = 15000;

QNetworkRequest uncachedRequest(const QUrl& url) {
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setTransferTimeout(probeTimeoutMs);
  return request;
}

int httpStatus(QNetworkReply* reply) {
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  return status.isValid() ? status.toInt() : 0;
}

}  // namespace

UpdateChecker::Probe UpdateChecker::classify(int status) {
  if (status >= 200 && status <= 299)
    return Probe::reachable;
  if (status == 404 || status == 410)
    return Probe::upToDate;
  // The server does not accept HEAD: the feed's own request finds out.
  if (status == 405 || status == 501)
    return Probe::reachable;
  return Probe::failed;
}

QUrl UpdateChecker::configuredFeed() {
  const QByteArray override = qgetenv("VISTREL_UPDATE_FEED_URL");
  if (!override.isEmpty())
    return QUrl(QString::fromUtf8(override));
  return QUrl(QStringLiteral(VISTREL_UPDATE_FEED_URL));
}

UpdateChecker::UpdateChecker(QUrl feed, QString displayName, QString version, QObject* parent)
    : QObject(parent),
      network_(new QNetworkAccessManager(this)),
      feed_(std::move(feed)),
      displayName_(displayName.isEmpty() ? QStringLiteral("This app") : std::move(displayName)),
      version_(std::move(version)) {}

void UpdateChecker::checkForUpdates() {
  if (checking_)
    return;
  checking_ = true;
  if (feed_.isEmpty()) {
    fetchFeed();
    return;
  }
  QNetworkReply* reply = network_->head(uncachedRequest(feed_));
  connect(reply, &QNetworkReply::finished, this, [this, reply] { probeDone(reply); });
}

void UpdateChecker::probeDone(QNetworkReply* reply) {
  reply->deleteLater();
  switch (classify(httpStatus(reply))) {
    case Probe::reachable:
      fetchFeed();
      return;
    case Probe::upToDate:
      checking_ = false;
      alert(QStringLiteral("You\u2019re up to date"),
            displayName_ + QLatin1Char(' ') + version_ +
                QStringLiteral(" is the newest version. ") + displayName_ +
                QStringLiteral(" checks for updates on its own and will let you know when "
                               "there\u2019s a new one."));
      return;
    case Probe::failed:
      checking_ = false;
      alert(QStringLiteral("Couldn\u2019t check for updates"),
            QStringLiteral("Check your internet connection and try again. ") + displayName_ +
                QStringLiteral(" also checks on its own about once a day."));
      return;
  }
}

void UpdateChecker::fetchFeed() {
  if (feed_.isEmpty()) {
    checking_ = false;
    return;
  }
  QNetworkReply* reply = network_->get(uncachedRequest(feed_));
  connect(reply, &QNetworkReply::finished, this, [this, reply] { feedDone(reply); });
}

void UpdateChecker::feedDone(QNetworkReply* reply) {
  reply->deleteLater();
  checking_ = false;
  const QJsonObject release = QJsonDocument::fromJson(reply->readAll()).object();
  const QString latest = release.value(QStringLiteral("version")).toString();
  const QUrl page(release.value(QStringLiteral("page")).toString());
  if (reply->error() != QNetworkReply::NoError || latest.isEmpty() || !page.isValid()) {
    alert(QStringLiteral("Couldn\u2019t check for updates"),
          QStringLiteral("Check your internet connection and try again. ") + displayName_ +
              QStringLiteral(" also checks on its own about once a day."));
    return;
  }
  if (QVersionNumber::fromString(latest) > QVersionNumber::fromString(version_)) {
    alert(QStringLiteral("A new version of %1 is available").arg(displayName_),
          QStringLiteral("%1 %2 is out; you have %3.").arg(displayName_, latest, version_), page);
    return;
  }
  alert(QStringLiteral("You\u2019re up to date"),
        displayName_ + QLatin1Char(' ') + version_ + QStringLiteral(" is the newest version. ") +
            displayName_ +
            QStringLiteral(" checks for updates on its own and will let you know when there\u2019s "
                           "a new one."));
}

void UpdateChecker::alert(const QString& title, const QString& text, const QUrl& download) {
  auto* box = new QMessageBox(QMessageBox::Information, title, text);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->setAccessibleName(title);
  if (download.isValid()) {
    QPushButton* open =
        box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
    connect(open, &QPushButton::clicked, this, [download] { QDesktopServices::openUrl(download); });
  } else {
    box->addButton(QMessageBox::Ok);
  }
  box->show();
  box->raise();
  box->activateWindow();
  Q_EMIT finished();
}

}  // namespace vistrel
