// Inspection: exactly one eligible pedal, its description, and every reason there is none.

#include "harness.h"

namespace {

using namespace harness;

using Inspection = Scenario;

const std::string unsupported =
    "VEC device found, but its report format is unsupported. No capture available.";

std::string found(int count) {
  return "Found " + std::to_string(count) +
         " matching VEC HID services. Exactly one is required; composite or identical devices "
         "are not eligible.";
}

TEST_F(Inspection, EligiblePedalIsDescribedAndCanBeStarted) {
  sim::Properties properties;
  properties.registryID = 4294970000;
  sim::plug(properties);
  backend->launch();
  send([](Backend& b) { b.inspect(); });
  const auto status = next();
  EXPECT_EQ(status.message,
            "VEC USB Footpedal · 05f3:00ff · two-byte candidate protocol · registry 4294970000. "
            "Physical compatibility unverified.");
  EXPECT_FALSE(status.captured);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), started);
}

TEST_F(Inspection, CountsEveryMatchingServiceAndNoOther) {
  backend->launch();
  send([](Backend& b) { b.inspect(); });
  EXPECT_EQ(nextMessage(), found(0));

  sim::Properties keyboard;
  keyboard.product = 0x0100;
  sim::plug(keyboard);
  sim::plug();
  sim::plug();
  send([](Backend& b) { b.inspect(); });
  EXPECT_EQ(nextMessage(), found(2));
}

TEST_F(Inspection, TransportMustBeExactlyUSB) {
  backend->launch();
  for (platform::Property transport :
       {platform::Property{std::string("Bluetooth")}, platform::Property{std::string("usb")},
        platform::Property{}, platform::Property{std::int64_t{1}}}) {
    sim::Properties properties;
    properties.transport = transport;
    const auto id = sim::plug(properties);
    send([](Backend& b) { b.inspect(); });
    EXPECT_EQ(nextMessage(), unsupported);
    sim::unplug(id);
  }
}

TEST_F(Inspection, ReportSizeMustBeTwo) {
  backend->launch();
  for (platform::Property size : {platform::Property{std::int64_t{8}}, platform::Property{},
                                  platform::Property{std::string("2")}}) {
    sim::Properties properties;
    properties.maxInputReportSize = size;
    const auto id = sim::plug(properties);
    send([](Backend& b) { b.inspect(); });
    EXPECT_EQ(nextMessage(), unsupported);
    sim::unplug(id);
  }
}

TEST_F(Inspection, UnsupportedOrMissingPedalClearsAnEarlierSelection) {
  const auto id = plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  sim::unplug(id);
  sim::Properties bluetooth;
  bluetooth.transport = std::string("Bluetooth");
  sim::plug(bluetooth);
  send([](Backend& b) { b.inspect(); });
  EXPECT_EQ(nextMessage(), unsupported);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst);
}

TEST_F(Inspection, ProductNameFallsBackWhenMissingOrNotText) {
  backend->launch();
  for (platform::Property name : {platform::Property{}, platform::Property{std::int64_t{7}}}) {
    sim::Properties properties;
    properties.name = name;
    const auto id = sim::plug(properties);
    send([](Backend& b) { b.inspect(); });
    EXPECT_EQ(nextMessage(), "VEC HID pedal · 05f3:00ff · two-byte candidate protocol · registry " +
                                 std::to_string(id) + ". Physical compatibility unverified.");
    sim::unplug(id);
  }
}

TEST_F(Inspection, WithoutInputMonitoringTheSelectionIsCleared) {
  plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  sim::grantListen(false);
  send([](Backend& b) { b.inspect(); });
  EXPECT_EQ(nextMessage(), "Grant Input Monitoring using Permissions, then inspect again.");
  sim::grantListen(true);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst);
}

TEST_F(Inspection, WhileCapturedChangesAndPublishesNothing) {
  const auto id = isolated();
  send([](Backend& b) { b.inspect(); });
  expectQuiet();
  deliver(id, {0, 0});
  const auto status = next();
  EXPECT_TRUE(status.captured) << "capture continues";
  EXPECT_TRUE(sim::listening(id));
}

TEST_F(Inspection, WhileActiveChangesAndPublishesNothing) {
  const auto id = activated(mapped("space", "none", "none"));
  send([](Backend& b) { b.inspect(); });
  expectQuiet();
  deliver(id, {left, 0});
  EXPECT_TRUE(eventually([] { return sim::postedCount() == 2; })) << "actions continue";
}

}  // namespace
