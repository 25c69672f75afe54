#include "access/protocol.h"

#include <algorithm>
#include <cstring>

namespace protocol {

namespace {

enum Type : std::uint8_t { openType = 1, releaseType = 2, helloType = 3, answerType = 4 };

// Builds a frame: the length is filled in by `finish`.
class Writer {
 public:
  explicit Writer(std::uint8_t type) : bytes_(2, 0) { bytes_.push_back(type); }
  void byte(std::uint8_t value) { bytes_.push_back(value); }
  void word(std::uint32_t value) {
    std::uint8_t raw[4];
    std::memcpy(raw, &value, sizeof raw);
    bytes_.insert(bytes_.end(), raw, raw + sizeof raw);
  }
  void raw(std::span<const std::uint8_t> data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  std::vector<std::uint8_t> finish() {
    const auto length = static_cast<std::uint16_t>(bytes_.size() - 2);
    std::memcpy(bytes_.data(), &length, sizeof length);
    return std::move(bytes_);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Reads the fields of one frame's body; any read past its end makes it malformed.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> body) : body_(body) {}
  bool byte(std::uint8_t& value) {
    if (!take(1))
      return false;
    value = body_[at_ - 1];
    return true;
  }
  bool word(std::uint32_t& value) {
    if (!take(4))
      return false;
    std::memcpy(&value, body_.data() + at_ - 4, 4);
    return true;
  }
  bool raw(std::span<std::uint8_t> into) {
    if (!take(into.size()))
      return false;
    std::copy_n(body_.data() + at_ - into.size(), into.size(), into.data());
    return true;
  }
  bool text(std::string& into, std::size_t size) {
    if (!take(size))
      return false;
    into.assign(reinterpret_cast<const char*>(body_.data() + at_ - size), size);
    return true;
  }
  bool done() const { return at_ == body_.size(); }

 private:
  bool take(std::size_t size) {
    if (body_.size() - at_ < size)
      return false;
    at_ += size;
    return true;
  }
  std::span<const std::uint8_t> body_;
  std::size_t at_ = 0;
};

bool validPath(const std::string& path) {
  return !path.empty() && path.size() <= maxPath && path.front() == '/' &&
         path.find('\0') == std::string::npos;
}

// The frame at the start of `bytes`, as (result, body): the body excludes the length bytes.
template <typename T>
Decoded<T> frame(std::span<const std::uint8_t> bytes, std::size_t largest,
                 std::span<const std::uint8_t>& body) {
  Decoded<T> decoded;
  if (bytes.size() < 2)
    return decoded;
  std::uint16_t length;
  std::memcpy(&length, bytes.data(), sizeof length);
  if (length == 0 || length > largest - 2) {
    decoded.result = Decoded<T>::Result::malformed;
    return decoded;
  }
  if (bytes.size() < 2u + length)
    return decoded;
  body = bytes.subspan(2, length);
  decoded.used = 2u + length;
  decoded.result = Decoded<T>::Result::complete;
  return decoded;
}

template <typename T>
Decoded<T> malformed() {
  Decoded<T> decoded;
  decoded.result = Decoded<T>::Result::malformed;
  return decoded;
}

}  // namespace

std::vector<std::uint8_t> encode(const Request& request) {
  if (const auto* open = std::get_if<Open>(&request)) {
    Writer writer(openType);
    writer.byte(static_cast<std::uint8_t>(open->kind));
    writer.raw(open->nonce);
    return writer.finish();
  }
  Writer writer(releaseType);
  writer.word(std::get<Release>(request).id);
  return writer.finish();
}

std::vector<std::uint8_t> encode(const Reply& reply) {
  if (const auto* hello = std::get_if<Hello>(&reply)) {
    Writer writer(helloType);
    writer.raw(hello->nonce);
    return writer.finish();
  }
  const Answer& answer = std::get<Answer>(reply);
  if (answer.nodes.size() > maxNodes)
    return {};
  Writer writer(answerType);
  writer.byte(static_cast<std::uint8_t>(answer.status));
  writer.byte(static_cast<std::uint8_t>(answer.nodes.size()));
  for (const Node& node : answer.nodes) {
    if (!validPath(node.path))
      return {};
    writer.word(node.id);
    writer.byte(static_cast<std::uint8_t>(node.path.size()));
    writer.raw(
        std::span(reinterpret_cast<const std::uint8_t*>(node.path.data()), node.path.size()));
  }
  return writer.finish();
}

Decoded<Request> decodeRequest(std::span<const std::uint8_t> bytes) {
  std::span<const std::uint8_t> body;
  Decoded<Request> decoded = frame<Request>(bytes, maxRequest, body);
  if (decoded.result != Decoded<Request>::Result::complete)
    return decoded;
  Reader reader(body);
  std::uint8_t type = 0;
  reader.byte(type);
  if (type == openType) {
    Open open;
    std::uint8_t kind = 0;
    if (!reader.byte(kind) || kind < static_cast<std::uint8_t>(Kind::pedal) ||
        kind > static_cast<std::uint8_t>(Kind::uinput) || !reader.raw(open.nonce) || !reader.done())
      return malformed<Request>();
    open.kind = static_cast<Kind>(kind);
    decoded.value = open;
    return decoded;
  }
  if (type == releaseType) {
    Release release;
    if (!reader.word(release.id) || release.id == 0 || !reader.done())
      return malformed<Request>();
    decoded.value = release;
    return decoded;
  }
  return malformed<Request>();
}

Decoded<Reply> decodeReply(std::span<const std::uint8_t> bytes) {
  std::span<const std::uint8_t> body;
  Decoded<Reply> decoded = frame<Reply>(bytes, maxReply, body);
  if (decoded.result != Decoded<Reply>::Result::complete)
    return decoded;
  Reader reader(body);
  std::uint8_t type = 0;
  reader.byte(type);
  if (type == helloType) {
    Hello hello;
    if (!reader.raw(hello.nonce) || !reader.done())
      return malformed<Reply>();
    decoded.value = hello;
    return decoded;
  }
  if (type != answerType)
    return malformed<Reply>();
  Answer answer;
  std::uint8_t status = 0;
  std::uint8_t count = 0;
  if (!reader.byte(status) || status > lastStatus || !reader.byte(count) || count > maxNodes)
    return malformed<Reply>();
  answer.status = static_cast<Status>(status);
  // Nodes come only with a grant.
  if (answer.status != Status::granted && count != 0)
    return malformed<Reply>();
  for (std::uint8_t i = 0; i < count; ++i) {
    Node node;
    std::uint8_t size = 0;
    if (!reader.word(node.id) || !reader.byte(size) || !reader.text(node.path, size) ||
        !validPath(node.path))
      return malformed<Reply>();
    answer.nodes.push_back(std::move(node));
  }
  if (!reader.done())
    return malformed<Reply>();
  decoded.value = std::move(answer);
  return decoded;
}

}  // namespace protocol
