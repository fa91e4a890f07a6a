#include <gtest/gtest.h>

#include "device/codepage.h"

using device::FromAnsi;
using device::ToAnsi;

TEST(CodePage, AsciiPassesUnchanged) {
  EXPECT_EQ(ToAnsi("Pump 7"), "Pump 7");
  EXPECT_EQ(FromAnsi("Pump 7"), "Pump 7");
  EXPECT_EQ(ToAnsi(""), "");
}

TEST(CodePage, ChineseIsTwoBytesPerCharacter) {
  EXPECT_EQ(ToAnsi("设备").size(), 4u);
  EXPECT_EQ(FromAnsi(ToAnsi("设备名称")), "设备名称");
}

TEST(CodePage, ASplitDoubleByteCharacterAtTheEndIsDropped) {
  const std::string ansi = ToAnsi("a一");  // 3 bytes
  EXPECT_EQ(FromAnsi(ansi.substr(0, 2)), "a");
}

TEST(CodePage, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(FromAnsi(std::string("\xFF", 1)), "\xEF\xBF\xBD");
  EXPECT_EQ(FromAnsi(std::string("\xFF\xFF" "ok", 4)), "\xEF\xBF\xBD\xEF\xBF\xBD" "ok");
}

TEST(CodePage, UnrepresentableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(ToAnsi("x\xF0\x9F\x98\x80y"), "x?y");      // an emoji
  EXPECT_EQ(ToAnsi(std::string("\xC3(", 2)), "?(");  // malformed UTF-8
}

TEST(CodePage, EveryByteSequenceConvertsWithoutCrashing) {
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string utf8 = FromAnsi(all);
  EXPECT_FALSE(utf8.empty());
  EXPECT_FALSE(ToAnsi(utf8).empty());
}
