// The Qt Network transport against real local servers on 127.0.0.1: an HTTPS server whose
// self-signed certificate only these tests trust, and a server that never answers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "MoreAppsKit/network/MoreAppsBackgroundRefresh.h"
#include "MoreAppsKit/network/MoreAppsNetworkTransport.h"
#include "tests/MoreAppsKit/MoreAppsFeedFixtures.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

using testing::feedEntry;
using testing::feedText;
using testing::feedWith;

QString qtPath(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

// A throw-away certificate for 127.0.0.1, made with the openssl tool.
struct TestCertificate {
  QSslCertificate certificate;
  QSslKey key;

  static TestCertificate make(const std::filesystem::path& folder) {
    const std::filesystem::path certFile = folder / "cert.pem";
    const std::filesystem::path keyFile = folder / "key.pem";
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                   qtPath(keyFile), QStringLiteral("-out"), qtPath(certFile)});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
      throw std::runtime_error("openssl could not make a certificate");
    QFile cert(qtPath(certFile));
    QFile key(qtPath(keyFile));
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
      throw std::runtime_error("cannot read the certificate");
    return {QSslCertificate(&cert, QSsl::Pem), QSslKey(&key, QSsl::Ec, QSsl::Pem)};
  }
};

// Answers every request with one fixed response and keeps the request texts.
class HttpsServer {
 public:
  HttpsServer(const TestCertificate& identity, QByteArray response)
      : response_(std::move(response)) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(identity.certificate);
    tls.setPrivateKey(identity.key);
    server_.setSslConfiguration(tls);
    QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, &server_,
                     [this] { serve(server_.nextPendingConnection()); });
    if (!server_.listen(QHostAddress::LocalHost))
      throw std::runtime_error("cannot listen on 127.0.0.1");
  }

  std::string url(const char* path) const {
    return "https://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
  }
  const std::vector<std::string>& requests() const { return requests_; }

 private:
  void serve(QTcpSocket* socket) {
    if (socket == nullptr)
      return;
    auto request = std::make_shared<QByteArray>();
    QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket, request] {
      request->append(socket->readAll());
      if (!request->contains("\r\n\r\n"))
        return;
      requests_.push_back(request->toStdString());
      socket->write(response_);
      socket->disconnectFromHost();
    });
  }

  QSslServer server_;
  QByteArray response_;
  std::vector<std::string> requests_;
};

QByteArray httpResponse(const std::string& body) {
  return QByteArray::fromStdString(
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nETag: \"v7\"\r\n"
      "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\nConnection: close\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body);
}

class MoreAppsNetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { identity_ = TestCertificate::make(folder_->path()); }
  static void TearDownTestSuite() { folder_.reset(); }

  static inline std::unique_ptr<testing::TemporaryFolder> folder_ =
      std::make_unique<testing::TemporaryFolder>();
  static inline TestCertificate identity_;
};

TEST_F(MoreAppsNetworkTest, FetchesOverHttpsWithTheRequestsHeaders) {
  const std::string body = feedText(feedWith({feedEntry("notes")}));
  HttpsServer server(identity_, httpResponse(body));
  MoreAppsRequest request;
  request.url = server.url("/more-apps.json");
  request.headers = {{"Accept", "application/json"}, {"If-None-Match", "\"v6\""}};

  const std::optional<MoreAppsResponse> response =
      moreAppsNetworkTransport({identity_.certificate})(request);

  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body, body);
  EXPECT_EQ(response->finalURL, request.url);
  EXPECT_EQ(response->headers.at("etag"), "\"v7\"");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_NE(server.requests()[0].find("GET /more-apps.json HTTP/1.1"), std::string::npos);
  EXPECT_NE(server.requests()[0].find("Accept: application/json"), std::string::npos);
  EXPECT_NE(server.requests()[0].find("If-None-Match: \"v6\""), std::string::npos);
}

TEST_F(MoreAppsNetworkTest, TheLoaderCachesWhatTheRealTransportBrings) {
  const std::string body = feedText(feedWith({feedEntry("notes")}));
  HttpsServer server(identity_, httpResponse(body));
  testing::TemporaryFolder cache;
  const MoreAppsLoader loader{server.url("/more-apps.json"),
                              cache.path(),
                              {},
                              [] { return std::chrono::system_clock::now(); },
                              moreAppsNetworkTransport({identity_.certificate})};

  const std::optional<MoreAppsFeed> feed = loader.refresh();

  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->apps[0].id, "notes");
  EXPECT_EQ(loader.cached(), feed);
  EXPECT_EQ(loader.readMeta().etag, "\"v7\"");
}

TEST_F(MoreAppsNetworkTest, RefusesACertificateItDoesNotTrust) {
  HttpsServer server(identity_, httpResponse("{}"));
  MoreAppsRequest request;
  request.url = server.url("/more-apps.json");
  EXPECT_FALSE(moreAppsNetworkTransport()(request));
}

TEST_F(MoreAppsNetworkTest, RefreshesInTheBackgroundAndAnswersOnTheCallersThread) {
  const std::string body = feedText(feedWith({feedEntry("notes")}));
  testing::TemporaryFolder cache;
  const MoreAppsLoader loader{"https://feeds.example.net/more-apps.json",
                              cache.path(),
                              {},
                              [] { return std::chrono::system_clock::now(); },
                              [&](const MoreAppsRequest&) {
                                return std::optional<MoreAppsResponse>(
                                    {"https://feeds.example.net/more-apps.json", 200, {}, body});
                              }};
  QObject context;
  QEventLoop loop;
  std::optional<MoreAppsFeed> delivered;
  QThread* deliveredOn = nullptr;
  refreshInBackground(loader, &context, [&](std::optional<MoreAppsFeed> feed) {
    delivered = std::move(feed);
    deliveredOn = QThread::currentThread();
    loop.quit();
  });
  loop.exec();

  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->apps[0].id, "notes");
  EXPECT_EQ(deliveredOn, context.thread());
}

TEST(MoreAppsNetworkTimeout, GivesUpOnAServerThatNeverAnswers) {
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
  std::vector<QTcpSocket*> accepted;
  QObject::connect(&silent, &QTcpServer::pendingConnectionAvailable, &silent,
                   [&] { accepted.push_back(silent.nextPendingConnection()); });
  MoreAppsRequest request;
  request.url = "https://127.0.0.1:" + std::to_string(silent.serverPort()) + "/more-apps.json";

  EXPECT_FALSE(moreAppsNetworkTransport()(request));
  EXPECT_EQ(accepted.size(), 1u);
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
