#include "core/selftest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "../support/process.h"
#include "core/failure.h"
#include "core/settings.h"

namespace {

const std::string passLine =
    "PASS macOS pure policy: boundaries, five buttons, sequences, repeats, neutral, learning, "
    "hold and settings. No physical assertions.\n";

TEST(SelfTest, PassesAndPrintsOneLine) {
  std::ostringstream out;
  EXPECT_EQ(runSelfTest(out), 0);
  EXPECT_EQ(out.str(), passLine);
}

TEST(SelfTest, FailurePrintsItsTextualFormOnce) {
  std::ostringstream out;
  EXPECT_EQ(runSelfTest(out, [](std::ostream&) { throw Failure::invalid("Policy test failed"); }),
            1);
  EXPECT_EQ(out.str(), "invalid(\"Policy test failed\")\n");

  std::ostringstream json;
  EXPECT_EQ(runSelfTest(json, [](std::ostream&) { (void)decode("{"); }), 1);
  EXPECT_EQ(json.str().rfind("[json.exception.parse_error", 0), 0u) << json.str();
  EXPECT_EQ(json.str().find('\n'), json.str().size() - 1);
}

TEST(SelfTest, ArgumentMustMatchExactlyAnywhere) {
  auto wants = [](std::vector<const char*> argv) {
    return wantsSelfTest(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_TRUE(wants({"quillfen", "--self-test"}));
  EXPECT_TRUE(wants({"quillfen", "--ui-test", "--self-test", "x"}));
  EXPECT_TRUE(wants({"--self-test"})) << "the program path counts too";
  EXPECT_FALSE(wants({"quillfen", "--self-testing"}));
  EXPECT_FALSE(wants({"quillfen", "--self-test="}));
  EXPECT_FALSE(wants({"quillfen", "-self-test", "--SELF-TEST"}));
  EXPECT_FALSE(wants({}));
}

TEST(SelfTestProgram, PrintsPassLineAndExitsZero) {
  for (const auto& argv : std::vector<std::vector<std::string>>{
           {QUILLFEN_PROGRAM, "--self-test"},
           {QUILLFEN_PROGRAM, "--ui-test", "--self-test"},
           {"--self-test"},
       }) {
    const Outcome outcome = runProgram(QUILLFEN_PROGRAM, argv);
    EXPECT_EQ(outcome.status, 0) << argv.back();
    EXPECT_EQ(outcome.out, passLine);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST(SelfTestProgram, NearMissDoesNotRunTheSelfTest) {
  // Without the switch the program opens its window; a display platform that does not exist
  // makes that fail at once instead of leaving a window open on a desktop.
  std::vector<std::string> variables{"QT_QPA_PLATFORM=no-such-platform"};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind("QT_QPA_PLATFORM=", 0) != 0)
      variables.push_back(*entry);
  }
  std::vector<char*> env;
  for (auto& variable : variables)
    env.push_back(variable.data());
  env.push_back(nullptr);
  const Outcome outcome =
      runProgram(QUILLFEN_PROGRAM, {QUILLFEN_PROGRAM, "--self-test-x"}, env.data());
  EXPECT_NE(outcome.status, 0);
  EXPECT_EQ(outcome.out.find("PASS"), std::string::npos);
}

}  // namespace
