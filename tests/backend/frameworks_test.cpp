// What only Apple's frameworks show: the scenarios of platform/macos over the framework double
// that the simulated platform cannot tell apart.

#include "platform/frameworks/frameworks.h"
#include "harness.h"

namespace {

using namespace harness;

using Frameworks = Scenario;

TEST_F(Frameworks, PassesAskThePrivacyServiceNothing) {
  isolated();
  const auto asked = frameworks::privacyChecks();
  passes(10);
  EXPECT_EQ(frameworks::privacyChecks(), asked)
      << "a round trip to the privacy service in every pass holds the clicks the tap waits on";
}

}  // namespace
