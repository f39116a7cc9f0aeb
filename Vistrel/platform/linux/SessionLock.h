#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <optional>

namespace vistrel {

// Asks the session's lock state over D-Bus: logind's LockedHint on the system bus, then the
// screen savers (org.freedesktop.ScreenSaver, org.gnome.ScreenSaver) on the session bus. A bus
// or service that is missing or does not answer within the timeout counts as "not locked".
class SessionLock {
 public:
  struct Buses {
    std::optional<QString> sessionAddress;  // default: the session bus
    std::optional<QString> systemAddress;   // default: the system bus
  };

  SessionLock(Buses buses, std::chrono::milliseconds timeout);
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

  bool isLocked() const;

 private:
  bool logindSaysLocked() const;
  bool screenSaverIsActive(const QString& service, const QString& path,
                           const QString& interface) const;

  std::optional<QString> ownSessionName_;
  std::optional<QString> ownSystemName_;
  QDBusConnection session_;
  QDBusConnection system_;
  int timeoutMs_;
};

// logind's object path of the session `id`.
QString logindSessionPath(const QString& id);

}  // namespace vistrel
