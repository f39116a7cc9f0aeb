#pragma once

// Test support: a private D-Bus bus (its own dbus-daemon) and services of the test's making on
// it, standing in for logind and the screen savers.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "tests/support/XvfbSession.h"

namespace vistrel::testing {

// A D-Bus bus of the test's own, so that no service of the machine answers.
class PrivateBus {
 public:
  PrivateBus() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    daemon_ = ChildProcess({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                            "--print-address=" + std::to_string(fds[1])},
                           {fds[1]});
    close(fds[1]);
    const auto address = readLine(fds[0], std::chrono::seconds(10));
    close(fds[0]);
    if (!address) {
      throw std::runtime_error("dbus-daemon did not start");
    }
    address_ = QString::fromStdString(*address);
  }

  const QString& address() const { return address_; }

 private:
  ChildProcess daemon_;
  QString address_;
};

// A D-Bus service of the test's making: one object whose method calls `answer` handles. It
// lives on a thread of its own so that the probe's blocking call on the main thread is answered.
class FakeService {
 public:
  // The reply's arguments for a call, or none to refuse it. Runs on the service's thread.
  using Answer = std::function<std::optional<QVariantList>(const QDBusMessage&)>;

  FakeService(const QString& address, const QString& service, const QString& path, Answer answer)
      : service_(service), path_(path), name_(QStringLiteral("fake-") + service) {
    object_ = std::make_unique<Object>(std::move(answer));
    thread_.start();
    object_->moveToThread(&thread_);
    connection_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, name_));
    if (!connection_->registerVirtualObject(path_, object_.get()) ||
        !connection_->registerService(service_)) {
      throw std::runtime_error("cannot offer the fake " + service.toStdString());
    }
  }

  ~FakeService() {
    connection_->unregisterService(service_);
    connection_->unregisterObject(path_);
    connection_.reset();
    QDBusConnection::disconnectFromBus(name_);
    thread_.quit();
    thread_.wait();
  }

  int calls() const { return object_->calls; }

 private:
  class Object : public QDBusVirtualObject {
   public:
    explicit Object(Answer answer) : answer_(std::move(answer)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
      ++calls;
      const auto arguments = answer_(message);
      if (!arguments) {
        return false;
      }
      connection.send(message.createReply(*arguments));
      return true;
    }

    std::atomic<int> calls{0};

   private:
    Answer answer_;
  };

  QString service_;
  QString path_;
  QString name_;
  std::unique_ptr<Object> object_;
  QThread thread_;
  std::unique_ptr<QDBusConnection> connection_;
};

// org.freedesktop.ScreenSaver, active or not as the test says.
inline std::unique_ptr<FakeService> fakeScreenSaver(const QString& address,
                                                    std::atomic<bool>& active) {
  return std::make_unique<FakeService>(
      address, QStringLiteral("org.freedesktop.ScreenSaver"),
      QStringLiteral("/org/freedesktop/ScreenSaver"),
      [&active](const QDBusMessage& call) -> std::optional<QVariantList> {
        if (call.interface() != QStringLiteral("org.freedesktop.ScreenSaver") ||
            call.member() != QStringLiteral("GetActive")) {
          return std::nullopt;
        }
        return QVariantList{QVariant(active.load())};
      });
}

// logind's session object, with the LockedHint the test sets.
inline std::unique_ptr<FakeService> fakeLogind(const QString& address, std::atomic<bool>& locked) {
  return std::make_unique<FakeService>(
      address, QStringLiteral("org.freedesktop.login1"),
      QStringLiteral("/org/freedesktop/login1/session/auto"),
      [&locked](const QDBusMessage& call) -> std::optional<QVariantList> {
        const QVariantList arguments = call.arguments();
        if (call.member() != QStringLiteral("Get") || arguments.size() != 2 ||
            arguments[0].toString() != QStringLiteral("org.freedesktop.login1.Session") ||
            arguments[1].toString() != QStringLiteral("LockedHint")) {
          return std::nullopt;
        }
        return QVariantList{QVariant::fromValue(QDBusVariant(locked.load()))};
      });
}

}  // namespace vistrel::testing
