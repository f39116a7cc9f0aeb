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
#include <string>
#include <vector>

#include "tests/support/XvfbSession.h"

namespace vistrel::testing {

// A D-Bus bus of the test's own, so that no service of the machine answers. With
// `startsServices` false the bus also starts none of the machine's installed services (a
// Secret Service, for one), so a name nobody owns is simply not there.
class PrivateBus {
 public:
  explicit PrivateBus(bool startsServices = true) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    std::vector<std::string> arguments{"dbus-daemon", "--nofork", "--nopidfile",
                                       "--print-address=" + std::to_string(fds[1])};
    if (startsServices) {
      arguments.push_back("--session");
    } else {
      arguments.push_back("--config-file=" + writeBareConfig());
    }
    daemon_ = ChildProcess(arguments, {fds[1]});
    close(fds[1]);
    const auto address = readLine(fds[0], std::chrono::seconds(10));
    close(fds[0]);
    if (!address) {
      throw std::runtime_error("dbus-daemon did not start");
    }
    address_ = QString::fromStdString(*address);
  }

  ~PrivateBus() {
    if (!config_.empty())
      ::unlink(config_.c_str());
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const QString& address() const { return address_; }

 private:
  // A session bus's configuration without any service folders. The second allow rule is what
  // lets replies and signals be received at all.
  std::string writeBareConfig() {
    char name[] = "/tmp/vistrel-bare-bus.XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0)
      throw std::runtime_error("mkstemp");
    config_ = name;
    const std::string text =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
        "<auth>EXTERNAL</auth><policy context=\"default\">"
        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/></policy></busconfig>\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written)
      throw std::runtime_error("cannot write the bus configuration");
    return config_;
  }

  std::string config_;
  ChildProcess daemon_;
  QString address_;
};

// Owns a name on the bus and never answers a call to it: a service that hangs.
class SilentService {
 public:
  SilentService(const QString& address, const QString& service)
      : service_(service), name_(QStringLiteral("silent-") + service) {
    connection_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, name_));
    if (!connection_->registerVirtualObject(QStringLiteral("/"), &object_,
                                            QDBusConnection::SubPath) ||
        !connection_->registerService(service_)) {
      throw std::runtime_error("cannot own " + service.toStdString());
    }
  }
  SilentService(const SilentService&) = delete;
  SilentService& operator=(const SilentService&) = delete;
  ~SilentService() {
    connection_->unregisterService(service_);
    connection_->unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    connection_.reset();
    QDBusConnection::disconnectFromBus(name_);
  }

 private:
  class Object : public QDBusVirtualObject {
   public:
    QString introspect(const QString&) const override { return {}; }
    // Taken and dropped: no reply, no error.
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
  };

  QString service_;
  QString name_;
  Object object_;
  std::unique_ptr<QDBusConnection> connection_;
};

// A D-Bus service of the test's making: one object whose method calls `answer` handles. It
// lives on a thread of its own so that the probe's blocking call on the main thread is answered.
class FakeService {
 public:
  // The reply's arguments for a call, or none to refuse it. Runs on the service's thread.
  using Answer = std::function<std::optional<QVariantList>(const QDBusMessage&)>;

  // With `dropRefused`, a call the answer refuses gets no reply at all (a service that hangs)
  // instead of an error.
  FakeService(const QString& address, const QString& service, const QString& path, Answer answer,
              bool dropRefused = false)
      : service_(service), path_(path), name_(QStringLiteral("fake-") + service) {
    object_ = std::make_unique<Object>(std::move(answer), dropRefused);
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
    Object(Answer answer, bool dropRefused)
        : answer_(std::move(answer)), dropRefused_(dropRefused) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
      ++calls;
      const auto arguments = answer_(message);
      if (!arguments) {
        return dropRefused_;
      }
      connection.send(message.createReply(*arguments));
      return true;
    }

    std::atomic<int> calls{0};

   private:
    Answer answer_;
    bool dropRefused_;
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
