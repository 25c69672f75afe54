#pragma once

// A small client of the AT-SPI accessibility bus, reading what a screen reader reads: the tree of
// accessible objects with their roles, names, states, relations and places on the screen, and the
// events they send.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <ostream>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

// An accessible object: the bus name of its application and its object path.
struct Ref {
  QString service;
  QString path;
};

// AT-SPI state bits used here.
enum State : unsigned {
  active = 1,
  checked = 4,
  focusable = 11,
  focused = 12,
  sensitive = 24,
  showing = 25,
  vertical = 29,
};

// One object as read from the bus, with its descendants.
struct Node {
  Ref ref;
  QString role;  // AT-SPI's role name: "push button", "check box", "combo box", "alert", ...
  QString name;
  std::uint64_t states = 0;
  QRect box;               // on the screen
  QStringList labelledBy;  // names of the objects that label it
  std::vector<Node> children;

  bool is(State state) const { return (states >> state) & 1; }
  // Every node of the tree in order, this one first.
  std::vector<const Node*> all() const;
  // The first node of the tree with this role and name; nullptr if none.
  const Node* find(const QString& role, const QString& name) const;
  // The tree as text, one object a line, indented by depth.
  QString dump(int depth = 0) const;
};

// One event as sent: its AT-SPI interface member ("StateChanged", ...), kind ("showing", ...),
// first detail and the name of its source at the time it arrived.
struct Event {
  QString member;
  QString kind;
  int detail = 0;
  QString source;
};

class Atspi : public QObject {
  Q_OBJECT

 public:
  explicit Atspi(const QString& address);
  bool connected() const { return bus.isConnected(); }

  // The root objects of the applications on the bus whose name is `name`.
  std::vector<Ref> applications(const QString& name);
  Node read(const Ref& ref, int depth = 64);
  // The whole text of an object with a text interface.
  QString text(const Ref& ref);
  // Asks the registry to have applications send events of `kind`, as screen readers do
  // ("object:state-changed:showing").
  void listen(const QString& kind);

  std::vector<Event> events;

 private Q_SLOTS:
  void received(const QDBusMessage& message);

 private:
  QDBusMessage call(const Ref& ref, const QString& interface, const QString& method,
                    const QVariantList& arguments = {});
  QString name(const Ref& ref);

  QDBusConnection bus;
};
