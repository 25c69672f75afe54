#include "bus.h"

#include <signal.h>
#include <stdlib.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <sstream>
#include <string>

#include "../../support/process.h"

namespace {

QString address;
pid_t daemonPid = -1;

}  // namespace

bool startBus() {
  const Outcome outcome = runProgram(
      "/usr/bin/dbus-daemon",
      {"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1", "--nosyslog"});
  std::istringstream lines(outcome.out);
  std::string line;
  std::string pid;
  if (outcome.status == 0 && std::getline(lines, line) && std::getline(lines, pid) &&
      !line.empty()) {
    address = QString::fromStdString(line);
    daemonPid = std::stoi(pid);
  }
  const std::string target = address.isEmpty() ? "unix:path=/nonexistent/bus" : line;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", target.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", target.c_str(), 1);
  return !address.isEmpty();
}

void stopBus() {
  if (daemonPid > 0)
    kill(daemonPid, SIGTERM);
  daemonPid = -1;
}

QString busAddress() {
  return address;
}

QDBusObjectPath Logind::GetSessionByPID(uint) {
  ++asked;
  if (outside)
    sendErrorReply("org.freedesktop.login1.NoSessionForPID", "PID does not belong to any session");
  return QDBusObjectPath(session);
}

bool User::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  if (message.member() != "Get" || message.arguments().value(1).toString() != "Display")
    return false;
  ++asked;
  QDBusArgument display;
  display.beginStructure();
  display << QString("_31") << QDBusObjectPath(Logind::session);
  display.endStructure();
  connection.send(
      message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(display)))));
  return true;
}

QString User::introspect(const QString&) const {
  return {};
}

Desktop::Desktop() : connection(QDBusConnection::connectToBus(address, "desktop")) {
  connection.registerService("org.freedesktop.login1");
  connection.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots);
  connection.registerVirtualObject("/org/freedesktop/login1/user/self", &user);
}

Desktop::~Desktop() {
  connection.unregisterObject("/org/freedesktop/login1/user/self");
  connection.unregisterObject("/org/freedesktop/login1");
  connection.unregisterService("org.freedesktop.login1");
  QDBusConnection::disconnectFromBus("desktop");
}

void Desktop::sleep(bool starting) {
  QDBusMessage signal = QDBusMessage::createSignal(
      "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
  signal << starting;
  connection.send(signal);
}

void Desktop::lock() {
  connection.send(
      QDBusMessage::createSignal(Logind::session, "org.freedesktop.login1.Session", "Lock"));
}

void Desktop::activeChanged(bool active, const QString& interface) {
  QDBusMessage signal = QDBusMessage::createSignal(
      Logind::session, "org.freedesktop.DBus.Properties", "PropertiesChanged");
  signal << interface << QVariantMap{{"Active", active}} << QStringList();
  connection.send(signal);
}

void Desktop::screenSaver(bool active, const QString& interface) {
  QDBusMessage signal =
      QDBusMessage::createSignal("/org/freedesktop/ScreenSaver", interface, "ActiveChanged");
  signal << active;
  connection.send(signal);
}
