// Drives one Decoder from an arbitrary starting state through arbitrary byte strings and checks,
// after every report, the invariants the backend relies on.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/decoder.h"
#include "core/failure.h"
#include "core/vocabulary.h"
#include "tests/fuzz/require.h"

namespace {

bool singleBit(int value) {
  return value == 1 || value == 2 || value == 4;
}

void checkInvariants(const Decoder& decoder) {
  require(decoder.held >= 0 && decoder.held <= 7);
  int seen = 0;
  for (const auto& [name, bit] : decoder.learned) {
    require(isControl(name));
    require(singleBit(bit));
    require((seen & bit) == 0);
    seen |= bit;
  }
  if (!decoder.learning)
    require(decoder.candidate == 0);
  if (decoder.candidate != 0) {
    require(singleBit(decoder.candidate));
    require((seen & decoder.candidate) == 0);
  }
}

struct Snapshot {
  int held;
  bool neutral;
  std::optional<std::string> learning;
  int candidate;
  std::map<std::string, int> learned;

  explicit Snapshot(const Decoder& d)
      : held(d.held),
        neutral(d.neutral),
        learning(d.learning),
        candidate(d.candidate),
        learned(d.learned) {}
  bool operator==(const Snapshot&) const = default;
};

// Builds a valid starting state from the first four bytes: held, neutral and learning, the bits
// of the learned pedals, and the candidate.
Decoder startingState(std::span<const std::uint8_t>& data) {
  Decoder decoder;
  if (data.size() < 4)
    return decoder;
  decoder.held = data[0] & 7;
  decoder.neutral = (data[1] & 1) != 0;
  const int learning = (data[1] >> 1) % 4;
  const int permutation = data[2] % 6;
  const int present = data[2] / 6 % 8;
  static constexpr std::array<std::array<int, 3>, 6> orders{
      {{1, 2, 4}, {1, 4, 2}, {2, 1, 4}, {2, 4, 1}, {4, 1, 2}, {4, 2, 1}}};
  int owned = 0;
  for (int i = 0; i < 3; ++i) {
    if ((present >> i & 1) == 0 || learning == i + 1)
      continue;
    decoder.learned[std::string(controls[i])] = orders[permutation][i];
    owned |= orders[permutation][i];
  }
  if (learning != 0) {
    decoder.learning = std::string(controls[learning - 1]);
    const int candidate = 1 << (data[3] % 4);  // 8 stands for "no candidate"
    if (candidate < 8 && (candidate & owned) == 0)
      decoder.candidate = candidate;
  }
  data = data.subspan(4);
  return decoder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::span<const std::uint8_t> data(bytes, size);
  Decoder decoder = startingState(data);
  checkInvariants(decoder);

  while (!data.empty()) {
    const std::size_t length = std::min<std::size_t>(data[0] % 4, data.size() - 1);
    const auto report = data.subspan(1, length);
    data = data.subspan(1 + length);

    const Snapshot before(decoder);
    try {
      const std::vector<std::string> names = decoder.report(report);
      require(report.size() == 2 && report[0] <= 7);
      require(decoder.held == report[0]);
      if (!names.empty()) {
        require(decoder.neutral && !decoder.learning);
        const int pressed = report[0] & ~before.held;
        std::size_t next = 0;
        for (const auto& name : names) {
          while (next < controls.size() && controls[next] != name)
            ++next;
          require(next < controls.size());
          require((decoder.learned.at(name) & pressed) != 0);
          ++next;
        }
      }
      if (!before.neutral && !decoder.neutral)
        require(names.empty());
    } catch (const Failure& failure) {
      if (failure.message() == "Unsupported HID report. Capture stopped.") {
        require(Snapshot(decoder) == before);
      } else {
        require(before.learning.has_value());
        require(decoder.learning == before.learning && decoder.candidate == before.candidate &&
                decoder.learned == before.learned);
      }
      decoder.reset();  // the backend stops capture on any failure, which resets the decoder
    }
    checkInvariants(decoder);
  }
  return 0;
}
