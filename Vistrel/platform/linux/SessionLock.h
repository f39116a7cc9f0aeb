#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <optional>

namespace vistrel {

// Asks the session's lock state over D-Bus: logind's LockedHint on the system bus, then the
// screen savers (org.freedesktop.ScreenSaver, org.gnome.ScreenSaver) on the session bus. A bus
// or service that is missing cannot lock the screen; one that exists but does not answer within
// the timeout leaves the state unknown.
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

  // Absent when a lock service that exists did not answer and none said "locked".
  std::optional<bool> isLocked() const;

  enum class Answer { locked, unlocked, absent, unknown };

 private:
  Answer logindAnswer() const;
  Answer screenSaverAnswer(const QString& service, const QString& path,
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
