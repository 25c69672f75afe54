#include "atspi.h"

#include <QDBusArgument>
#include <QDBusVariant>

namespace {

const QString accessible = "org.a11y.atspi.Accessible";

std::vector<Ref> references(const QDBusArgument& argument) {
  std::vector<Ref> refs;
  argument.beginArray();
  while (!argument.atEnd()) {
    QString service;
    QDBusObjectPath path;
    argument.beginStructure();
    argument >> service >> path;
    argument.endStructure();
    refs.push_back({service, path.path()});
  }
  argument.endArray();
  return refs;
}

}  // namespace

std::vector<const Node*> Node::all() const {
  std::vector<const Node*> nodes{this};
  for (const Node& child : children) {
    const auto below = child.all();
    nodes.insert(nodes.end(), below.begin(), below.end());
  }
  return nodes;
}

const Node* Node::find(const QString& wanted, const QString& called) const {
  for (const Node* node : all()) {
    if (node->role == wanted && node->name == called)
      return node;
  }
  return nullptr;
}

QString Node::dump(int depth) const {
  QStringList flags;
  for (const auto& [state, word] :
       std::vector<std::pair<State, const char*>>{{focusable, "focusable"},
                                                  {focused, "focused"},
                                                  {checked, "checked"},
                                                  {sensitive, "sensitive"},
                                                  {showing, "showing"}}) {
    if (is(state))
      flags << word;
  }
  QString text = QString(depth * 2, ' ') + "[" + role + "] \"" + name + "\"";
  if (!labelledBy.isEmpty())
    text += " labelled by \"" + labelledBy.join("\", \"") + "\"";
  text += " (" + flags.join(", ") + ")\n";
  for (const Node& child : children)
    text += child.dump(depth + 1);
  return text;
}

Atspi::Atspi(const QString& address)
    : bus(QDBusConnection::connectToBus(address, "accessibility " + address)) {
  bus.connect(QString(), QString(), "org.a11y.atspi.Event.Object", "StateChanged", this,
              SLOT(received(QDBusMessage)));
  bus.connect(QString(), QString(), "org.a11y.atspi.Event.Object", "PropertyChange", this,
              SLOT(received(QDBusMessage)));
}

QDBusMessage Atspi::call(const Ref& ref, const QString& interface, const QString& method,
                         const QVariantList& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(ref.service, ref.path, interface, method);
  message.setArguments(arguments);
  return bus.call(message, QDBus::Block, 5000);
}

QString Atspi::name(const Ref& ref) {
  const QDBusMessage reply =
      call(ref, "org.freedesktop.DBus.Properties", "Get", {accessible, QString("Name")});
  return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
}

std::vector<Ref> Atspi::applications(const QString& wanted) {
  const Ref desktop{"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
  const QDBusMessage reply = call(desktop, accessible, "GetChildren");
  std::vector<Ref> found;
  if (reply.type() != QDBusMessage::ReplyMessage)
    return found;
  for (const Ref& app : references(reply.arguments().value(0).value<QDBusArgument>())) {
    if (name(app) == wanted)
      found.push_back(app);
  }
  return found;
}

Node Atspi::read(const Ref& ref, int depth) {
  Node node;
  node.ref = ref;
  node.role = call(ref, accessible, "GetRoleName").arguments().value(0).toString();
  node.name = name(ref);
  const QDBusMessage states = call(ref, accessible, "GetState");
  const auto words = qdbus_cast<QList<uint>>(states.arguments().value(0));
  if (words.size() == 2)
    node.states = words[0] | (std::uint64_t(words[1]) << 32);
  const QDBusMessage extents =
      call(ref, "org.a11y.atspi.Component", "GetExtents", {QVariant::fromValue(uint(0))});
  if (extents.type() == QDBusMessage::ReplyMessage) {
    const QDBusArgument box = extents.arguments().value(0).value<QDBusArgument>();
    int x = 0, y = 0, w = 0, h = 0;
    box.beginStructure();
    box >> x >> y >> w >> h;
    box.endStructure();
    node.box = QRect(x, y, w, h);
  }
  const QDBusMessage relations = call(ref, accessible, "GetRelationSet");
  if (relations.type() == QDBusMessage::ReplyMessage) {
    const QDBusArgument set = relations.arguments().value(0).value<QDBusArgument>();
    set.beginArray();
    while (!set.atEnd()) {
      uint type = 0;
      set.beginStructure();
      set >> type;
      const std::vector<Ref> targets = references(set);
      set.endStructure();
      if (type == 2) {  // labelled by
        for (const Ref& target : targets)
          node.labelledBy << name(target);
      }
    }
    set.endArray();
  }
  // The items of a pop-up's list are its choices, not controls of the window.
  if (depth > 0 && node.role != "list") {
    const QDBusMessage children = call(ref, accessible, "GetChildren");
    for (const Ref& child : references(children.arguments().value(0).value<QDBusArgument>()))
      node.children.push_back(read(child, depth - 1));
  }
  return node;
}

QString Atspi::text(const Ref& ref) {
  return call(ref, "org.a11y.atspi.Text", "GetText", {0, -1}).arguments().value(0).toString();
}

void Atspi::listen(const QString& kind) {
  call({"org.a11y.atspi.Registry", "/org/a11y/atspi/registry"}, "org.a11y.atspi.Registry",
       "RegisterEvent", {kind, QStringList(), QString()});
}

void Atspi::received(const QDBusMessage& message) {
  Event event;
  event.member = message.member();
  event.kind = message.arguments().value(0).toString();
  event.detail = message.arguments().value(1).toInt();
  event.source = name({message.service(), message.path()});
  events.push_back(event);
}
