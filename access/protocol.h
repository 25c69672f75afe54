#pragma once

// What the program and quillfen-access, its device helper, say to each other over the helper's
// Unix stream socket. Every message is a frame: two bytes of length (the size of what follows, in
// the machine's byte order, as both ends run on the same machine), a type byte and the fields.
//
// The helper speaks first: `Hello` with a fresh random nonce when it serves the caller, or an
// `Answer` with its refusal, after which it closes the connection. The program then sends `Open`
// requests, each carrying that nonce, and gets one `Answer` for each, with one descriptor
// (SCM_RIGHTS) for each node the answer names, in order. `Release` gives back an evdev descriptor
// the program has closed: the helper then revokes and drops its own duplicate of it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace protocol {

// The helper's socket, made by systemd's socket unit.
inline constexpr const char* socketPath = "/run/quillfen-access.socket";

// What the program asks for: a kind of node, never a path. The helper finds the nodes itself.
enum class Kind : std::uint8_t {
  pedal = 1,   // the pedal's hidraw node (read) and evdev nodes (read and write)
  input = 2,   // the evdev nodes of the keyboards and pointing devices (read)
  uinput = 3,  // /dev/uinput (write)
};

// The helper's verdict on a caller or a request.
enum class Status : std::uint8_t {
  granted = 0,
  program = 1,      // the caller is not the installed program
  traced = 2,       // a debugger or another tracer is attached to it
  dumpable = 3,     // other processes of its user may attach to it or open its descriptors
  mapping = 4,      // it runs code from a file that someone other than root may change
  environment = 5,  // its environment makes the loader or a library load other code
  session = 6,      // its user has no active local session on a seat
  sender = 7,       // the request came from another process than the one that connected
  limit = 8,        // too many connections, or too many descriptors held
  failed = 9,       // the helper could not look at the caller or open a node
};
inline constexpr std::uint8_t lastStatus = 9;

inline constexpr std::size_t nonceSize = 16;
using Nonce = std::array<std::uint8_t, nonceSize>;

inline constexpr std::size_t maxNodes = 64;  // nodes in one answer
inline constexpr std::size_t maxPath = 64;   // bytes of a node's path

struct Open {
  Kind kind = Kind::input;
  Nonce nonce{};
  bool operator==(const Open&) const = default;
};
struct Release {
  std::uint32_t id = 0;  // never 0
  bool operator==(const Release&) const = default;
};
struct Hello {
  Nonce nonce{};
  bool operator==(const Hello&) const = default;
};
// A node handed over: its path, and the number by which it is released. 0 for a node whose
// descriptor the helper keeps no duplicate of (hidraw and uinput, which cannot be revoked).
struct Node {
  std::uint32_t id = 0;
  std::string path;  // absolute, 1 to maxPath bytes, no NUL
  bool operator==(const Node&) const = default;
};
struct Answer {
  Status status = Status::failed;
  std::vector<Node> nodes;  // none unless granted
  bool operator==(const Answer&) const = default;
};

using Request = std::variant<Open, Release>;  // from the program
using Reply = std::variant<Hello, Answer>;    // from the helper

// The largest frame of each direction, its two length bytes included.
inline constexpr std::size_t maxRequest = 2 + 1 + 1 + nonceSize;
inline constexpr std::size_t maxReply = 2 + 3 + maxNodes * (4 + 1 + maxPath);

std::vector<std::uint8_t> encode(const Request& request);
// An answer with more than maxNodes nodes or a path out of bounds is no answer: empty.
std::vector<std::uint8_t> encode(const Reply& reply);

// The first frame at the start of `bytes`: `complete` with its value and size, `incomplete`
// while its bytes have not all come (never for more than a frame's largest size), or
// `malformed`: too long, of an unknown type, of the wrong size for its type, or with a field out
// of range. A stream that gives a malformed frame has lost its way and is closed.
template <typename T>
struct Decoded {
  enum class Result { incomplete, malformed, complete } result = Result::incomplete;
  T value{};
  std::size_t used = 0;
};
Decoded<Request> decodeRequest(std::span<const std::uint8_t> bytes);
Decoded<Reply> decodeReply(std::span<const std::uint8_t> bytes);

}  // namespace protocol
