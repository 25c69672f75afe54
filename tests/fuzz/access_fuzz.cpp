// Feeds arbitrary bytes to quillfen-access's request decoder as a connection's stream would bring
// them, frame after frame, and the same bytes to the program's decoder of the helper's replies.
// Whatever decodes must be the one way of writing it; a decoder may wait for more bytes only while
// a frame of its largest size has not come; and it never reads past what it was given.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "access/protocol.h"
#include "tests/fuzz/require.h"

namespace {

template <typename Message>
void stream(std::span<const std::uint8_t> bytes, std::size_t largest,
            protocol::Decoded<Message> (*decode)(std::span<const std::uint8_t>)) {
  using Result = typename protocol::Decoded<Message>::Result;
  while (!bytes.empty()) {
    const auto decoded = decode(bytes);
    if (decoded.result == Result::incomplete) {
      require(bytes.size() < largest);
      return;
    }
    if (decoded.result == Result::malformed)
      return;  // the connection is closed
    require(decoded.used >= 3 && decoded.used <= bytes.size() && decoded.used <= largest);
    const std::vector<std::uint8_t> again = protocol::encode(decoded.value);
    require(std::span<const std::uint8_t>(again).size() == decoded.used);
    for (std::size_t i = 0; i < decoded.used; ++i)
      require(again[i] == bytes[i]);
    bytes = bytes.subspan(decoded.used);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::span<const std::uint8_t> input(bytes, size);
  stream<protocol::Request>(input, protocol::maxRequest, &protocol::decodeRequest);
  stream<protocol::Reply>(input, protocol::maxReply, &protocol::decodeReply);
  return 0;
}
