// The frames of the program's conversation with quillfen-access: what is written reads back the
// same, and the helper's decoder refuses every frame it does not expect.

#include "access/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace protocol;
using Bytes = std::vector<std::uint8_t>;

Nonce nonce() {
  Nonce made{};
  for (std::size_t i = 0; i < made.size(); ++i)
    made[i] = static_cast<std::uint8_t>(i * 17 + 3);
  return made;
}

// A frame of `body` with the length field `length`.
Bytes frame(std::uint16_t length, const Bytes& body) {
  Bytes bytes(2);
  std::memcpy(bytes.data(), &length, 2);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}
Bytes frame(const Bytes& body) {
  return frame(static_cast<std::uint16_t>(body.size()), body);
}
Bytes withNonce(Bytes head) {
  const Nonce made = nonce();
  head.insert(head.end(), made.begin(), made.end());
  return head;
}

// Each message decodes to itself, using every byte, within the largest frame of its direction.
template <typename Message, typename Decode>
void readsBack(const std::vector<Message>& messages, Decode decode, std::size_t largest) {
  for (const Message& message : messages) {
    const Bytes bytes = encode(message);
    const auto decoded = decode(bytes);
    ASSERT_EQ(decoded.result, Decoded<Message>::Result::complete);
    EXPECT_EQ(decoded.value, message);
    EXPECT_EQ(decoded.used, bytes.size());
    EXPECT_LE(bytes.size(), largest);
  }
}

TEST(Protocol, EveryMessageReadsBackAsWritten) {
  readsBack<Request>(
      {Open{Kind::pedal, nonce()}, Open{Kind::uinput, nonce()}, Release{1}, Release{0xFFFFFFFF}},
      decodeRequest, maxRequest);
  Answer full{Status::granted, {}};
  for (std::uint32_t i = 0; i < maxNodes; ++i)
    full.nodes.push_back({i, "/dev/input/event" + std::string(maxPath - 16, '9')});
  readsBack<Reply>({Hello{nonce()}, Answer{Status::granted, {}},
                    Answer{Status::granted, {{0, "/dev/hidraw3"}, {7, "/dev/input/event12"}}},
                    Answer{Status::session, {}}, Answer{Status::failed, {}}, full},
                   decodeReply, maxReply);
}

// A frame arrives in pieces: every prefix waits for more, and the frame after it stays unread.
TEST(Protocol, PiecesWaitAndTheNextFrameStays) {
  const Bytes open = encode(Request(Open{Kind::input, nonce()}));
  Bytes two = open;
  const Bytes release = encode(Request(Release{9}));
  two.insert(two.end(), release.begin(), release.end());
  for (std::size_t size = 0; size < open.size(); ++size)
    EXPECT_EQ(decodeRequest(std::span(two).first(size)).result,
              Decoded<Request>::Result::incomplete)
        << size;
  const auto first = decodeRequest(two);
  EXPECT_EQ(first.used, open.size());
  EXPECT_EQ(decodeRequest(std::span(two).subspan(first.used)).value, Request(Release{9}));

  const Bytes answer = encode(Reply(Answer{Status::granted, {{3, "/dev/uinput"}}}));
  for (std::size_t size = 0; size < answer.size(); ++size)
    EXPECT_EQ(decodeReply(std::span(answer).first(size)).result, Decoded<Reply>::Result::incomplete)
        << size;
}

TEST(Protocol, TheHelperRefusesWhatItDoesNotExpect) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"no body", frame(0, {})},
      {"longer than any request, before it has come", frame(maxRequest - 1, {1})},
      {"unknown type", frame({9, 0, 0, 0, 0})},
      {"a reply's type", frame(withNonce({3}))},
      {"kind 0", frame(withNonce({1, 0}))},
      {"kind 4", frame(withNonce({1, 4}))},
      {"open without its nonce", frame({1, 2})},
      {"open with a byte more", frame([] {
         Bytes body = withNonce({1, 2});
         body.push_back(0);
         return body;
       }())},
      {"release of number 0", frame({2, 0, 0, 0, 0})},
      {"release cut short", frame({2, 1, 0, 0})},
  };
  for (const Case& item : cases)
    EXPECT_EQ(decodeRequest(item.bytes).result, Decoded<Request>::Result::malformed) << item.name;
}

TEST(Protocol, TheProgramRefusesAnAnswerOutOfBounds) {
  const auto node = [](std::uint32_t id, const std::string& path) {
    Bytes bytes(4);
    std::memcpy(bytes.data(), &id, 4);
    bytes.push_back(static_cast<std::uint8_t>(path.size()));
    bytes.insert(bytes.end(), path.begin(), path.end());
    return bytes;
  };
  const auto answer = [](std::uint8_t status, std::uint8_t count, const std::vector<Bytes>& nodes) {
    Bytes body{4, status, count};
    for (const Bytes& each : nodes)
      body.insert(body.end(), each.begin(), each.end());
    return frame(body);
  };
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"longer than any answer", frame(maxReply - 1, {4})},
      {"status out of range", answer(lastStatus + 1, 0, {})},
      {"nodes with a refusal", answer(6, 1, {node(0, "/dev/uinput")})},
      {"more nodes than it holds", answer(0, 2, {node(0, "/dev/uinput")})},
      {"fewer nodes than it holds", answer(0, 0, {node(0, "/dev/uinput")})},
      {"a relative path", answer(0, 1, {node(0, "dev/uinput")})},
      {"an empty path", answer(0, 1, {node(0, "")})},
      {"a path too long", answer(0, 1, {node(0, "/" + std::string(maxPath, 'a'))})},
      {"a NUL in a path", answer(0, 1, {node(0, std::string("/dev/\0x", 7))})},
      {"a count over the limit", answer(0, maxNodes + 1, {})},
      {"hello cut short", frame({3, 1, 2})},
  };
  for (const Case& item : cases)
    EXPECT_EQ(decodeReply(item.bytes).result, Decoded<Reply>::Result::malformed) << item.name;
  // What cannot be read back is not written either.
  EXPECT_TRUE(encode(Reply(Answer{Status::granted, {{0, "relative"}}})).empty());
  EXPECT_TRUE(
      encode(Reply(Answer{Status::granted, std::vector<Node>(maxNodes + 1, {0, "/x"})})).empty());
}

}  // namespace
