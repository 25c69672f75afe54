#include "app/qt/watcher.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <utility>

namespace {

const QString login = "org.freedesktop.login1";
const QString managerPath = "/org/freedesktop/login1";
const QString managerInterface = "org.freedesktop.login1.Manager";
const QString sessionInterface = "org.freedesktop.login1.Session";
const QString propertiesInterface = "org.freedesktop.DBus.Properties";
const QString userPath = "/org/freedesktop/login1/user/self";
const QString userInterface = "org.freedesktop.login1.User";

// Screen savers announce themselves under these names; any sender and object path is accepted.
const QString saverInterfaces[] = {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver",
                                   "org.mate.ScreenSaver", "org.cinnamon.ScreenSaver"};

}  // namespace

Watcher::Watcher(QDBusConnection systemBus, QDBusConnection sessionBus,
                 std::function<void()> onChange)
    : system(std::move(systemBus)), session(std::move(sessionBus)), changed(std::move(onChange)) {
  if (system.isConnected()) {
    system.connect(login, managerPath, managerInterface, "PrepareForSleep", this,
                   SLOT(sleeping(bool)));
    // This process's login session, asked without waiting; no answer means no session observer.
    QDBusMessage ask =
        QDBusMessage::createMethodCall(login, managerPath, managerInterface, "GetSessionByPID");
    ask << static_cast<uint>(::getpid());
    auto* pending = new QDBusPendingCallWatcher(system.asyncCall(ask, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
              const QDBusPendingReply<QDBusObjectPath> reply = *call;
              if (reply.isValid())
                follow(reply.value().path());
              else
                display();
              call->deleteLater();
            });
  }
  if (session.isConnected()) {
    for (const QString& interface : saverInterfaces)
      session.connect(QString(), QString(), interface, "ActiveChanged", this, SLOT(saver(bool)));
  }
}

void Watcher::display() {
  // A program started by the desktop may run outside any login session (in a scope of the user's
  // service manager); then the user's graphical session is the one to watch.
  QDBusMessage ask = QDBusMessage::createMethodCall(login, userPath, propertiesInterface, "Get");
  ask << userInterface << QString("Display");
  auto* pending = new QDBusPendingCallWatcher(system.asyncCall(ask, 5000), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    const QDBusPendingReply<QDBusVariant> reply = *call;
    call->deleteLater();
    if (!reply.isValid())
      return;
    // The property is a structure of the session's name and its object path.
    const QVariant value = reply.value().variant();
    if (!value.canConvert<QDBusArgument>())
      return;
    const QDBusArgument structure = value.value<QDBusArgument>();
    QString name;
    QDBusObjectPath path;
    structure.beginStructure();
    structure >> name >> path;
    structure.endStructure();
    if (!name.isEmpty() && path.path() != "/")
      follow(path.path());
  });
}

void Watcher::follow(const QString& path) {
  system.connect(login, path, sessionInterface, "Lock", this, SLOT(locked()));
  system.connect(login, path, propertiesInterface, "PropertiesChanged", this,
                 SLOT(properties(QString, QVariantMap, QStringList)));
}

void Watcher::sleeping(bool starting) {
  if (starting)
    changed();
}

void Watcher::locked() {
  changed();
}

void Watcher::properties(const QString& interface, const QVariantMap& values, const QStringList&) {
  // logind sends the new value of Active with the change.
  const auto active = values.find("Active");
  if (interface == sessionInterface && active != values.end() && !active->toBool())
    changed();
}

void Watcher::saver(bool active) {
  if (active)
    changed();
}
