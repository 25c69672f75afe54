#include "core/decoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/failure.h"

namespace {

using Names = std::vector<std::string>;

Names feed(Decoder& decoder, std::initializer_list<std::uint8_t> bytes) {
  const std::vector<std::uint8_t> report(bytes);
  return decoder.report(report);
}

std::string failure(Decoder& decoder, std::initializer_list<std::uint8_t> bytes) {
  try {
    feed(decoder, bytes);
  } catch (const Failure& error) {
    return error.message();
  }
  return "no failure";
}

// A decoder that is neutral and has left = 1, middle = 2, right = 4.
Decoder learnedDecoder() {
  Decoder decoder;
  feed(decoder, {0, 0});
  for (auto [name, bit] : {std::pair{"left", 1}, {"middle", 2}, {"right", 4}}) {
    decoder.learning = name;
    feed(decoder, {static_cast<std::uint8_t>(bit), 0});
    feed(decoder, {0, 0});
  }
  return decoder;
}

constexpr const char* unsupported = "Unsupported HID report. Capture stopped.";
constexpr const char* distinct = "Learn one distinct pedal at a time.";
constexpr const char* overlapping = "Overlapping learning inputs.";

TEST(Decoder, WaitsForNeutralBeforeReportingOrLearning) {
  Decoder decoder;
  decoder.learned = {{"left", 1}};
  decoder.learning = "middle";
  EXPECT_TRUE(feed(decoder, {2, 0}).empty());
  EXPECT_EQ(decoder.held, 2);
  EXPECT_TRUE(feed(decoder, {3, 0}).empty());
  EXPECT_FALSE(decoder.neutral);
  EXPECT_EQ(decoder.candidate, 0) << "no candidate may be captured before neutral";

  EXPECT_TRUE(feed(decoder, {0, 0}).empty());
  EXPECT_TRUE(decoder.neutral);
  EXPECT_EQ(decoder.held, 0);
}

TEST(Decoder, LearnsEachPedalByPressAndRelease) {
  Decoder decoder = learnedDecoder();
  EXPECT_EQ(decoder.learned,
            (std::map<std::string, int>{{"left", 1}, {"middle", 2}, {"right", 4}}));
  EXPECT_FALSE(decoder.learning.has_value());
  EXPECT_EQ(decoder.candidate, 0);
}

TEST(Decoder, CapturesCandidateOnPressAndStoresItOnlyOnRelease) {
  Decoder decoder;
  feed(decoder, {0, 0});
  decoder.learning = "left";
  EXPECT_TRUE(feed(decoder, {4, 0}).empty());
  EXPECT_EQ(decoder.candidate, 4);
  EXPECT_TRUE(decoder.learned.empty());
  EXPECT_TRUE(feed(decoder, {4, 0}).empty()) << "holding the candidate keeps waiting";
  EXPECT_EQ(decoder.learning, "left");
  feed(decoder, {0, 0});
  EXPECT_EQ(decoder.learned.at("left"), 4);
}

TEST(Decoder, ReportsNewPressesInPedalOrderOnce) {
  Decoder decoder = learnedDecoder();
  EXPECT_EQ(feed(decoder, {3, 0}), (Names{"left", "middle"}));
  EXPECT_TRUE(feed(decoder, {3, 0}).empty()) << "a held pedal is reported once";
  EXPECT_EQ(feed(decoder, {7, 0}), (Names{"right"}));
  EXPECT_TRUE(feed(decoder, {0, 0}).empty()) << "releases are never reported";
  EXPECT_EQ(feed(decoder, {4, 0}), (Names{"right"}));
  EXPECT_EQ(feed(decoder, {6, 0}), (Names{"middle"}));
}

TEST(Decoder, IgnoresBitsNoLearnedPedalOwns) {
  Decoder decoder;
  feed(decoder, {0, 0});
  decoder.learning = "right";
  feed(decoder, {2, 0});
  feed(decoder, {0, 0});
  EXPECT_EQ(feed(decoder, {7, 0}), (Names{"right"}));
}

TEST(Decoder, RejectsUnsupportedReportsWithoutChangingState) {
  Decoder decoder = learnedDecoder();
  feed(decoder, {1, 0});
  for (auto bytes : {std::vector<std::uint8_t>{8, 0}, {255, 0}, {0}, {0, 0, 0}, {}}) {
    try {
      decoder.report(bytes);
      ADD_FAILURE() << "report of " << bytes.size() << " bytes was accepted";
    } catch (const Failure& error) {
      EXPECT_EQ(error.message(), unsupported);
    }
    EXPECT_EQ(decoder.held, 1);
  }
  EXPECT_TRUE(feed(decoder, {1, 255}).empty()) << "byte 1 is not examined";
  EXPECT_TRUE(feed(decoder, {0, 255}).empty());
  EXPECT_EQ(feed(decoder, {1, 77}), (Names{"left"}));
}

TEST(Decoder, RefusesAmbiguousPressesWhileAwaitingTheCandidate) {
  {
    Decoder decoder;
    feed(decoder, {0, 0});
    decoder.learning = "left";
    EXPECT_EQ(failure(decoder, {3, 0}), distinct) << "two pedals went down together";
    EXPECT_EQ(decoder.held, 3);
    EXPECT_EQ(decoder.learning, "left");
    EXPECT_EQ(decoder.candidate, 0);
  }
  {
    Decoder decoder;
    feed(decoder, {0, 0});
    decoder.learned = {{"middle", 2}};
    decoder.learning = "left";
    EXPECT_EQ(failure(decoder, {2, 0}), distinct) << "bit already owned by another pedal";
    EXPECT_TRUE(decoder.learned.count("left") == 0);
  }
  {
    Decoder decoder;
    feed(decoder, {0, 0});
    feed(decoder, {1, 0});
    decoder.learning = "left";
    EXPECT_TRUE(feed(decoder, {1, 0}).empty()) << "a pedal still held is no new press";
    EXPECT_EQ(failure(decoder, {3, 0}), distinct) << "new press came with a held pedal";
  }
  {
    Decoder decoder;
    feed(decoder, {0, 0});
    decoder.learning = "left";
    EXPECT_TRUE(feed(decoder, {0, 0}).empty());
    EXPECT_EQ(decoder.learning, "left");
  }
}

TEST(Decoder, RefusesOverlapWhileTheCandidateIsHeld) {
  for (std::uint8_t second : {std::uint8_t{3}, std::uint8_t{2}}) {
    Decoder decoder;
    feed(decoder, {0, 0});
    decoder.learning = "left";
    feed(decoder, {1, 0});
    EXPECT_EQ(failure(decoder, {second, 0}), overlapping) << int(second);
    EXPECT_EQ(decoder.held, second);
    EXPECT_EQ(decoder.candidate, 1);
    EXPECT_TRUE(decoder.learned.empty());
  }
}

TEST(Decoder, ReportsNothingWhileLearningEvenForLearnedPedals) {
  Decoder decoder = learnedDecoder();
  decoder.learned.erase("right");
  decoder.learning = "right";
  EXPECT_TRUE(feed(decoder, {4, 0}).empty());
  EXPECT_TRUE(feed(decoder, {0, 0}).empty());
  EXPECT_EQ(decoder.learned.at("right"), 4) << "re-learning can capture the same bit again";
}

TEST(Decoder, ResetForgetsLearnedPedalsAndNeutral) {
  Decoder decoder = learnedDecoder();
  decoder.learned.erase("left");
  decoder.learning = "left";
  feed(decoder, {1, 0});
  ASSERT_EQ(decoder.candidate, 1);
  decoder.reset();
  EXPECT_EQ(decoder.held, 0);
  EXPECT_FALSE(decoder.neutral);
  EXPECT_FALSE(decoder.learning.has_value());
  EXPECT_EQ(decoder.candidate, 0);
  EXPECT_TRUE(decoder.learned.empty());
  EXPECT_TRUE(feed(decoder, {0, 0}).empty());
  EXPECT_TRUE(feed(decoder, {1, 0}).empty());
}

}  // namespace
