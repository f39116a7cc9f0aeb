#include "Vistrel/gui/shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace vistrel {

const QString SingleInstance::serviceName = QStringLiteral("com.tevrin77.Vistrel");
const QString SingleInstance::objectPath = QStringLiteral("/com/tevrin77/Vistrel");

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

bool SingleInstance::claim() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return true;
  // The object first, so an Activate that follows the name at once finds it.
  bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
  const auto reply =
      bus.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
    return true;
  bus.unregisterObject(objectPath);
  return false;
}

bool SingleInstance::activateRunning() {
  QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath,
                                                     QStringLiteral("org.freedesktop.Application"),
                                                     QStringLiteral("Activate"));
  call << QVariantMap();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Activate(const QVariantMap&) {
  Q_EMIT activated();
}

}  // namespace vistrel
