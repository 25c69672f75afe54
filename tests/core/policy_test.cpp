#include "core/policy.h"

#include <gtest/gtest.h>

namespace {

Policy armedAt(double now, const char* scope = "all") {
  Policy policy;
  policy.scope = scope;
  policy.arm(now);
  return policy;
}

TEST(Policy, WindowIsHalfOpenAndUpsRepeatTheirDown) {
  for (double offset : {0.0, 249.0, 249.999, 250.0, 251.0}) {
    Policy policy = armedAt(1000);
    const bool blocked = policy.reject(0, true, 1000 + offset);
    EXPECT_EQ(blocked, offset < 250) << offset;
    EXPECT_EQ(policy.reject(0, false, 1600), blocked) << offset;
    EXPECT_TRUE(policy.sequences.empty());
  }
}

TEST(Policy, BlockedUpStaysBlockedUntilExactlyFiveSeconds) {
  Policy policy = armedAt(0);
  ASSERT_TRUE(policy.reject(0, true, 1));
  EXPECT_TRUE(policy.reject(0, false, 5000.999));

  policy = armedAt(0);
  ASSERT_TRUE(policy.reject(0, true, 1));
  EXPECT_FALSE(policy.reject(0, false, 5001)) << "lapsed exactly 5000 ms after the down";
  EXPECT_TRUE(policy.sequences.empty());
}

TEST(Policy, LapsedDownIsDecidedAfresh) {
  Policy policy = armedAt(0);
  ASSERT_TRUE(policy.reject(3, true, 1));
  EXPECT_FALSE(policy.reject(3, true, 5001)) << "the old entry lapsed, the window is closed";
  EXPECT_FALSE(policy.reject(3, false, 5002));
}

TEST(Policy, UpsOfPassedOrUnseenDownsPass) {
  Policy policy;
  policy.scope = "all";
  EXPECT_FALSE(policy.reject(0, true, 0)) << "not armed";
  policy.arm(1);
  EXPECT_FALSE(policy.reject(0, false, 2)) << "a drag that began before the press finishes";
  EXPECT_FALSE(policy.reject(2, false, 2)) << "an up whose down was never seen";
}

TEST(Policy, RepeatedDownKeepsFirstVerdictAndExpiry) {
  Policy policy = armedAt(0);
  EXPECT_TRUE(policy.reject(1, true, 10));
  EXPECT_TRUE(policy.reject(1, true, 300)) << "outside the window, but repeats the first verdict";
  EXPECT_EQ(policy.sequences.at(1).expires, 5010);
  EXPECT_TRUE(policy.reject(1, false, 400));
  EXPECT_TRUE(policy.sequences.empty());

  policy = armedAt(0);
  EXPECT_FALSE(policy.reject(1, true, 260));
  policy.arm(270);
  EXPECT_FALSE(policy.reject(1, true, 280)) << "a passing down stays passing";
}

TEST(Policy, ArmReplacesTheWindowRatherThanExtendingIt) {
  Policy policy = armedAt(0);
  policy.arm(200);
  EXPECT_TRUE(policy.reject(0, true, 449));
  EXPECT_FALSE(policy.reject(2, true, 450));

  policy = armedAt(1000);
  policy.arm(0);
  EXPECT_EQ(policy.until, 250) << "an earlier time shortens the window";
}

TEST(Policy, ButtonsAreIndependent) {
  Policy policy = armedAt(0);
  EXPECT_TRUE(policy.reject(0, true, 10));
  EXPECT_FALSE(policy.reject(2, true, 260));
  EXPECT_FALSE(policy.reject(2, false, 270));
  EXPECT_TRUE(policy.reject(0, false, 280));
}

TEST(Policy, ScopesChooseTheCoveredButtons) {
  for (std::int64_t button = 0; button < 5; ++button) {
    Policy policy = armedAt(0);
    EXPECT_TRUE(policy.reject(button, true, 1)) << button;
    EXPECT_TRUE(policy.reject(button, false, 251)) << button;
  }
  EXPECT_TRUE(armedAt(0).reject(12, true, 1)) << "additional buttons are covered by all";

  for (const char* scope : {"right", "left", ""}) {
    Policy policy = armedAt(0, scope);
    EXPECT_FALSE(policy.reject(0, true, 1)) << scope;
    EXPECT_FALSE(policy.reject(2, true, 1)) << scope;
    EXPECT_TRUE(policy.reject(1, true, 1)) << scope;
  }
}

TEST(Policy, OffArmsNothingAndRecordsNothing) {
  Policy policy = armedAt(0);
  policy.scope = "off";
  policy.arm(1000);
  EXPECT_EQ(policy.until, 250);
  EXPECT_FALSE(policy.reject(0, true, 1)) << "even inside a window armed before";
  EXPECT_FALSE(policy.reject(0, false, 2));
  EXPECT_TRUE(policy.sequences.empty());
}

TEST(Policy, ClearDisarmsAndForgetsButKeepsScope) {
  Policy policy = armedAt(0);
  ASSERT_TRUE(policy.reject(0, true, 1));
  policy.clear();
  EXPECT_EQ(policy.scope, "all");
  EXPECT_EQ(policy.until, 0);
  EXPECT_TRUE(policy.sequences.empty());
  EXPECT_FALSE(policy.reject(0, false, 2)) << "the up of a forgotten down passes";
}

}  // namespace
