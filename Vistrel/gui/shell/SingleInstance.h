#pragma once

#include <QObject>
#include <QVariantMap>

namespace vistrel {

// One Vistrel per user session: the first instance owns the name "com.tevrin77.Vistrel" on the
// session bus and answers org.freedesktop.Application.Activate there; a later start asks it to
// show its window and exits.
class SingleInstance : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  static const QString serviceName;
  static const QString objectPath;

  explicit SingleInstance(QObject* parent = nullptr);

  // Takes the name. False when another instance holds it; true also when there is no session
  // bus to ask (then nothing can tell two instances apart).
  bool claim();
  // Asks the instance holding the name to show its window; whether it answered.
  static bool activateRunning();

 public Q_SLOTS:
  Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

 Q_SIGNALS:
  void activated();
};

}  // namespace vistrel
