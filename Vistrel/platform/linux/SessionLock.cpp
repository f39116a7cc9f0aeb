#include "Vistrel/platform/linux/SessionLock.h"

#include <QAtomicInteger>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace vistrel {
namespace {

QString uniqueConnectionName(const char* kind) {
  static QAtomicInteger<quint64> counter;
  return QStringLiteral("vistrel-session-lock-%1-%2")
      .arg(QLatin1String(kind))
      .arg(counter.fetchAndAddRelaxed(1));
}

// The standard bus is only touched when no address is given: merely asking for the session bus
// makes Qt autolaunch a bus daemon for the X display when none is known.
QDBusConnection openBus(const std::optional<QString>& address, QDBusConnection (*standard)(),
                        std::optional<QString>& ownName, const char* kind) {
  if (!address) {
    return standard();
  }
  ownName = uniqueConnectionName(kind);
  return QDBusConnection::connectToBus(*address, *ownName);
}

// What a failed call says about the service: only a call that could not get through in time
// leaves its answer open; every other error means there is no such service or session here.
SessionLock::Answer answerOfError(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ErrorMessage)
    return SessionLock::Answer::unknown;
  static const QStringList unanswered = {
      QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
      QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
      QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
      QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
      QStringLiteral("org.freedesktop.DBus.Error.NoMemory"),
      QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded"),
  };
  return unanswered.contains(reply.errorName()) ? SessionLock::Answer::unknown
                                                : SessionLock::Answer::absent;
}

SessionLock::Answer answerOfBool(const QVariant& value) {
  if (value.metaType().id() != QMetaType::Bool)
    return SessionLock::Answer::unknown;
  return value.toBool() ? SessionLock::Answer::locked : SessionLock::Answer::unlocked;
}

}  // namespace

QString logindSessionPath(const QString& id) {
  // logind escapes every byte outside [A-Za-z0-9] as "_xx", and a leading digit too.
  QString path = QStringLiteral("/org/freedesktop/login1/session/");
  const QByteArray bytes = id.toUtf8();
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (alpha || (digit && i > 0)) {
      path += QLatin1Char(c);
    } else {
      path += QStringLiteral("_%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
    }
  }
  return path;
}

SessionLock::SessionLock(Buses buses, std::chrono::milliseconds timeout)
    : session_(
          openBus(buses.sessionAddress, &QDBusConnection::sessionBus, ownSessionName_, "session")),
      system_(openBus(buses.systemAddress, &QDBusConnection::systemBus, ownSystemName_, "system")),
      timeoutMs_(int(timeout.count())) {}

SessionLock::~SessionLock() {
  if (ownSessionName_) {
    QDBusConnection::disconnectFromBus(*ownSessionName_);
  }
  if (ownSystemName_) {
    QDBusConnection::disconnectFromBus(*ownSystemName_);
  }
}

std::optional<bool> SessionLock::isLocked() const {
  const Answer answers[] = {
      logindAnswer(),
      screenSaverAnswer(QStringLiteral("org.freedesktop.ScreenSaver"),
                        QStringLiteral("/org/freedesktop/ScreenSaver"),
                        QStringLiteral("org.freedesktop.ScreenSaver")),
      screenSaverAnswer(QStringLiteral("org.gnome.ScreenSaver"),
                        QStringLiteral("/org/gnome/ScreenSaver"),
                        QStringLiteral("org.gnome.ScreenSaver")),
  };
  if (std::ranges::find(answers, Answer::locked) != std::end(answers))
    return true;
  if (std::ranges::find(answers, Answer::unknown) != std::end(answers))
    return std::nullopt;
  return false;
}

SessionLock::Answer SessionLock::logindAnswer() const {
  if (!system_.isConnected())
    return Answer::absent;
  const auto lockedHint = [&](const QString& path) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), path,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("LockedHint");
    call.setAutoStartService(false);
    const QDBusMessage reply = system_.call(call, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
      return answerOfError(reply);
    return answerOfBool(reply.arguments().first().value<QDBusVariant>().variant());
  };
  const Answer automatic = lockedHint(QStringLiteral("/org/freedesktop/login1/session/auto"));
  if (automatic != Answer::absent)
    return automatic;
  // logind before version 243 has no "auto" session; name ours explicitly.
  const char* sessionID = std::getenv("XDG_SESSION_ID");
  if (sessionID && *sessionID)
    return lockedHint(logindSessionPath(QString::fromUtf8(sessionID)));
  return Answer::absent;
}

SessionLock::Answer SessionLock::screenSaverAnswer(const QString& service, const QString& path,
                                                   const QString& interface) const {
  if (!session_.isConnected())
    return Answer::absent;
  QDBusMessage call =
      QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetActive"));
  call.setAutoStartService(false);
  const QDBusMessage reply = session_.call(call, QDBus::Block, timeoutMs_);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return answerOfError(reply);
  return answerOfBool(reply.arguments().first());
}

}  // namespace vistrel
