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

TEST(CodePage, EachByteAndEachHanziPairConvertsToItsCharacterAndBack) {
  for (int b = 1; b < 0x80; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(FromAnsi(one), one) << b;
    EXPECT_EQ(ToAnsi(one), one) << b;
  }
  // Every pair of the common hanzi block is one character of the unified
  // ideographs (three UTF-8 bytes) and converts back to the same two bytes.
  int checked = 0;
  for (int lead = 0xB0; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      if (lead == 0xD7 && trail >= 0xFA) continue;  // unassigned in the block
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = FromAnsi(pair);
      ASSERT_EQ(utf8.size(), 3u) << std::hex << lead << trail;
      const char32_t cp = ((utf8[0] & 0x0F) << 12) | ((utf8[1] & 0x3F) << 6) | (utf8[2] & 0x3F);
      EXPECT_TRUE(cp >= 0x4E00 && cp <= 0x9FFF) << std::hex << lead << trail << " -> " << +cp;
      EXPECT_EQ(ToAnsi(utf8), pair) << std::hex << lead << trail;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 72 * 94 - 5);
  // Known points of the table.
  EXPECT_EQ(FromAnsi("\xB0\xA1"), "啊");
  EXPECT_EQ(FromAnsi("\xF7\xFE"), "齄");
  EXPECT_EQ(FromAnsi("\xD6\xD0\xCE\xC4"), "中文");
  // Every byte from 1 to 255 in one text: the ASCII part comes through as it is.
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_EQ(FromAnsi(all).substr(0, 127), all.substr(0, 127));
}
