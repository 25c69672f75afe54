#include "platform/linux/keys.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace {

using namespace linuxplatform;

TEST(Keys, ProgramKeyCodesMapToEvdevKeys) {
  const std::pair<std::uint16_t, std::uint16_t> table[] = {
      {49, KEY_SPACE}, {36, KEY_ENTER}, {111, KEY_F12}, {105, KEY_F13},
      {107, KEY_F14},  {113, KEY_F15},  {106, KEY_F16}, {64, KEY_F17},
      {79, KEY_F18},   {80, KEY_F19},   {90, KEY_F20},
  };
  for (const auto& [code, key] : table)
    EXPECT_EQ(evdevKey(code), key) << code;
  // Codes the program never posts are not guessed at: 0 is A on the other side, not KEY_RESERVED.
  EXPECT_EQ(evdevKey(0), std::nullopt);
  EXPECT_EQ(evdevKey(122), std::nullopt);  // F1
}

TEST(Keys, ButtonsRoundTripAndPickTheirEventTypes) {
  const std::uint16_t codes[] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA};
  for (std::uint32_t button = 0; button < 5; ++button) {
    EXPECT_EQ(evdevButton(button), codes[button]);
    EXPECT_EQ(buttonNumber(codes[button]), button);
  }
  EXPECT_EQ(evdevButton(5), std::nullopt);
  EXPECT_EQ(buttonNumber(BTN_TASK), 7u);
  EXPECT_EQ(buttonNumber(BTN_TOUCH), std::nullopt);
  EXPECT_EQ(buttonNumber(KEY_SPACE), std::nullopt);

  EXPECT_EQ(mouseEventType(0, true), leftMouseDown);
  EXPECT_EQ(mouseEventType(0, false), leftMouseUp);
  EXPECT_EQ(mouseEventType(1, true), rightMouseDown);
  EXPECT_EQ(mouseEventType(1, false), rightMouseUp);
  EXPECT_EQ(mouseEventType(2, true), otherMouseDown);
  EXPECT_EQ(mouseEventType(4, false), otherMouseUp);
}

TEST(Keys, EitherSideHoldsEachModifier) {
  std::uint64_t left = 0;
  std::uint64_t right = 0;
  for (const FlagKey& key : flagKeys) {
    const bool isLeft = key.code == KEY_LEFTSHIFT || key.code == KEY_LEFTCTRL ||
                        key.code == KEY_LEFTALT || key.code == KEY_LEFTMETA;
    (isLeft ? left : right) |= key.flag;
  }
  const std::uint64_t all = shiftFlag | controlFlag | optionFlag | commandFlag;
  EXPECT_EQ(left, all);
  EXPECT_EQ(right, all);
}

TEST(Keys, EveryKeyAskedAboutIsFollowed) {
  // A device with only a key left out here would be no keyboard to the program, and questions
  // about that key would cost a system call each.
  for (const int code : {49, 36, 111, 105, 107, 113, 106, 64, 79, 80, 90})
    EXPECT_GE(askedIndex(*evdevKey(static_cast<std::uint16_t>(code))), 0) << code;
  for (const FlagKey& key : flagKeys)
    EXPECT_GE(askedIndex(key.code), 0) << key.code;
  EXPECT_EQ(askedIndex(KEY_A), -1);
  EXPECT_EQ(askedIndex(BTN_LEFT), -1);
}

}  // namespace
