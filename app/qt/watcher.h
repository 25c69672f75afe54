#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

class QDBusMessage;
class QDBusPendingCallWatcher;

// Watches the desktop session over D-Bus and calls `changed` when the machine is about to sleep
// (logind's PrepareForSleep(true)), when this login session is locked (its Lock signal) or stops
// being the active one (its Active property turning false), and when the screen saver starts
// (ActiveChanged(true)). A bus or service that is absent simply adds no observer.
class Watcher : public QObject {
  Q_OBJECT

 public:
  Watcher(QDBusConnection system, QDBusConnection session, std::function<void()> changed);

 private Q_SLOTS:
  void sleeping(bool starting);
  void locked();
  void properties(const QString& interface, const QVariantMap& values, const QStringList&);
  void saver(bool active);

 private:
  void display();
  void follow(const QString& path);

  QDBusConnection system;
  QDBusConnection session;
  std::function<void()> changed;
};
