#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace vistrel {

// The user's "Check for Updates…". There is no updater framework on Linux: one HEAD request
// probes the release feed first, so an unreachable network or a feed with nothing published
// ends in a plain alert; a reachable feed is then fetched (a small JSON object with "version"
// and "page") and a newer version is offered with a button that opens its download page.
class UpdateChecker : public QObject {
  Q_OBJECT

 public:
  enum class Probe { reachable, upToDate, failed };

  // The probe's reading of an HTTP status; 0 stands for a transport error or no HTTP answer.
  static Probe classify(int httpStatus);

  UpdateChecker(QUrl feed, QString displayName, QString version, QObject* parent = nullptr);

  bool isChecking() const { return checking_; }
  // The feed address of this build, or the one in VISTREL_UPDATE_FEED_URL.
  static QUrl configuredFeed();

 public Q_SLOTS:
  void checkForUpdates();

 Q_SIGNALS:
  // The outcome was shown; for tests and the screenshots.
  void finished();

 private:
  void probeDone(QNetworkReply* reply);
  void feedDone(QNetworkReply* reply);
  void fetchFeed();
  void alert(const QString& title, const QString& text, const QUrl& download = {});

  QNetworkAccessManager* network_;
  QUrl feed_;
  QString displayName_;
  QString version_;
  bool checking_ = false;
};

}  // namespace vistrel
