// Code pages and case mapping of a Russian system.
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace lumen {
namespace {

TEST(CodePage, AnsiAndOemDecodeCyrillic) {
  EXPECT_EQ(AnsiToWide("\xC0\xE1"), u"Аб");
  EXPECT_EQ(OemToWide("\x8E\xA0"), u"Оа");
  EXPECT_EQ(OemToAnsi("\x8E\xA0"), "\xCE\xE0");
  EXPECT_EQ(AnsiToWide("\x98"), u"\xFFFD");  // unassigned in Windows-1251
  EXPECT_EQ(WideToAnsi(u"Оа€✓"), "\xCE\xE0\x88?");
}

TEST(CodePage, Utf8RoundTripAndMalformedInput) {
  EXPECT_EQ(Utf8ToWide("a\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80"), u"aЖ中\U0001F600");
  EXPECT_EQ(WideToUtf8(u"aЖ中\U0001F600"), "a\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide("\x8E\xA0"), u"\xFFFD\xFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), u"\xFFFD\xFFFD");  // overlong
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\xFFFD");    // surrogate
  EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodePage, CaseMappingIsUnicodeNotAscii) {
  EXPECT_EQ(LowerChar(u'A'), u'a');
  EXPECT_EQ(LowerChar(u'Ж'), u'ж');
  EXPECT_EQ(LowerChar(u'Ä'), u'ä');
  EXPECT_EQ(UpperChar(u'я'), u'Я');
  EXPECT_EQ(LowerChar(u'1'), u'1');
}

}  // namespace
}  // namespace lumen
