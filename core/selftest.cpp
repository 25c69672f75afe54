#include "core/selftest.h"

#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "core/decoder.h"
#include "core/failure.h"
#include "core/policy.h"
#include "core/settings.h"
#include "core/vocabulary.h"

namespace {

void expect(bool ok) {
  if (!ok)
    throw Failure::invalid("Policy test failed");
}

std::vector<std::string> feed(Decoder& decoder, std::uint8_t state) {
  const std::array<std::uint8_t, 2> bytes{state, 0};
  return decoder.report(bytes);
}

void checkPolicy() {
  Policy policy;
  policy.scope = "all";

  // Boundaries: the window is half-open, and an up repeats its down's verdict.
  for (double offset : {0.0, 249.0, 250.0, 251.0}) {
    policy.clear();
    policy.arm(1000);
    const bool blocked = policy.reject(0, true, 1000 + offset);
    expect(blocked == (offset < 250));
    expect(policy.reject(0, false, 1600) == blocked);
  }

  // Five buttons: each is covered by "all", and a blocked down's up stays blocked.
  for (std::int64_t button = 0; button < 5; ++button) {
    policy.clear();
    policy.arm(0);
    expect(policy.reject(button, true, 1));
    expect(policy.reject(button, false, 251));
  }

  // Sequences: ups of downs that passed, or were never seen, pass inside the window.
  policy.clear();
  expect(!policy.reject(0, true, 0));
  policy.arm(1);
  expect(!policy.reject(0, false, 2));
  expect(!policy.reject(2, false, 2));

  // Repeats: each arm restarts the window from its own time.
  policy.clear();
  policy.arm(0);
  policy.arm(200);
  expect(policy.reject(0, true, 449));
  expect(!policy.reject(2, true, 450));

  // Lapse: an up exactly 5000 ms after its blocked down passes.
  policy.clear();
  policy.arm(0);
  expect(policy.reject(0, true, 1));
  expect(!policy.reject(0, false, 5001));

  // Right only.
  policy.scope = "right";
  policy.clear();
  policy.arm(0);
  expect(!policy.reject(0, true, 1));
  expect(policy.reject(1, true, 1));
}

void checkDecoder() {
  Decoder decoder;

  // Neutral: nothing is reported before an all-released report.
  expect(feed(decoder, 2).empty());
  feed(decoder, 0);

  // Learning left, middle and right by a press and a release each.
  const std::array<std::uint8_t, 3> bits{1, 2, 4};
  for (std::size_t i = 0; i < controls.size(); ++i) {
    decoder.learning = std::string(controls[i]);
    feed(decoder, bits[i]);
    feed(decoder, 0);
  }
  expect(feed(decoder, 3) == std::vector<std::string>{"left", "middle"});

  // Hold: a pedal kept down is not reported again.
  expect(feed(decoder, 3).empty());
}

void checkSettings() {
  const Settings defaults(1, {{"left", "none"}, {"middle", "none"}, {"right", "none"}}, "off");
  defaults.validate();
  decode(encode(defaults)).validate();
}

}  // namespace

void selfTest(std::ostream& out) {
  checkPolicy();
  checkDecoder();
  checkSettings();
  out << "PASS macOS pure policy: boundaries, five buttons, sequences, repeats, neutral, learning, "
         "hold and settings. No physical assertions.\n";
}

bool wantsSelfTest(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr && std::string_view(argv[i]) == "--self-test")
      return true;
  }
  return false;
}

int runSelfTest(std::ostream& out, Check check) {
  try {
    check(out);
    out.flush();
    return 0;
  } catch (const std::exception& error) {
    out << error.what() << '\n';
  } catch (...) {
    out << "unknown error\n";
  }
  out.flush();
  return 1;
}
