#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QObject>
#include <QString>
#include <QVariantMap>

// A private D-Bus daemon for the tests, standing in for both the system and the session bus, and
// a stand-in for logind on it.

// Starts the daemon and points DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS at it; when
// no daemon can be started, points them at nothing, so every bus is absent. Returns whether a
// daemon runs.
bool startBus();
void stopBus();
// The daemon's address; empty when none runs.
QString busAddress();

// logind's manager object: answers GetSessionByPID with one fixed session, or, when `outside`
// is set, with the error logind gives a process outside every session.
class Logind : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  static inline const QString session = "/org/freedesktop/login1/session/_31";

  int asked = 0;
  bool outside = false;

 public Q_SLOTS:
  QDBusObjectPath GetSessionByPID(uint pid);
};

// logind's object of the calling user: answers the Display property with the same session.
class User : public QDBusVirtualObject {
  Q_OBJECT

 public:
  int asked = 0;

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
  QString introspect(const QString& path) const override;
};

// A connection of its own to the private bus that owns the name org.freedesktop.login1 and sends
// the signals of logind and of a screen saver.
class Desktop {
 public:
  Desktop();
  ~Desktop();

  void sleep(bool starting);
  void lock();
  void activeChanged(bool active, const QString& interface = "org.freedesktop.login1.Session");
  void screenSaver(bool active, const QString& interface = "org.freedesktop.ScreenSaver");

  QDBusConnection connection;
  Logind logind;
  User user;
};
