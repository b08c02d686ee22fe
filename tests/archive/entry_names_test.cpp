// Entry-name decoding: the UTF-8 classification at every edge of its byte ranges, the choice of
// decoding it drives, and the OEM conversion that only the UTF-8 flag switches off.
#include "archive/entry_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumen {
namespace {

TEST(ClassifyUtf8, SequencesAtEveryBoundaryOfTheTable) {
  struct Case {
    std::string bytes;
    int expected;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"plain/ascii.txt", 0},
      {"\x7F", 0},
      // Two-byte leads: 0xC2..0xDF with one continuation 0x80..0xBF.
      {"\xC1\x80", 2},
      {"\xC2\x80", 1},
      {"\xC2\xBF", 1},
      {"\xDF\xBF", 1},
      {"\xC2\x7F", 2},
      {"\xC2\xC0", 2},
      // 0xE0 needs 0xA0..0xBF second.
      {"\xE0\x9F\x80", 2},
      {"\xE0\xA0\x80", 1},
      {"\xE0\xBF\xBF", 1},
      {"\xE0\xC0\x80", 2},
      // 0xE1..0xEF, 0xED included (encoded surrogates pass).
      {"\xE1\x80\x80", 1},
      {"\xEF\xBF\xBF", 1},
      {"\xED\xA0\x80", 1},
      {"\xE1\x7F\x80", 2},
      {"\xE1\x80\xC0", 2},
      // 0xF0 needs 0x90..0xBF second.
      {"\xF0\x8F\x80\x80", 2},
      {"\xF0\x90\x80\x80", 1},
      {"\xF0\xBF\xBF\xBF", 1},
      {"\xF0\xC0\x80\x80", 2},
      // 0xF1..0xF3.
      {"\xF1\x80\x80\x80", 1},
      {"\xF3\xBF\xBF\xBF", 1},
      {"\xF3\x80\x80\x7F", 2},
      // 0xF4 needs 0x80..0x8F second.
      {"\xF4\x80\x80\x80", 1},
      {"\xF4\x8F\xBF\xBF", 1},
      {"\xF4\x90\x80\x80", 2},
      // Leads that never start a sequence.
      {"\x80", 2},
      {"\xBF", 2},
      {"\xC0\x80", 2},
      {"\xF5\x80\x80\x80", 2},
      {"\xFF", 2},
      // Sequences cut short by the end.
      {"\xC2", 2},
      {"\xE1\x80", 2},
      {"\xF1\x80\x80", 2},
      {"ab\xF4", 2},
      // ASCII before, between and after sequences.
      {"dir/\xD0\xBF\xD1\x80\xD0\xB8.txt", 1},
      {"a\xC2\x80"
       "b\xC2",
       2},
      // Cyrillic OEM (CP866) bytes are not UTF-8.
      {"\x8E\xA0", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyUtf8(c.bytes), c.expected) << ::testing::PrintToString(c.bytes);
  }
}

TEST(EntryNames, DecodingFollowsTheClassAndTheOemRule) {
  struct Case {
    const char* name;
    std::string stored;
    uint16_t flags;
    bool oem;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      // CP866 0x8E 0xA0 is "Оа"; the same bytes in CP1251 are "Ћ" and a no-break space.
      {"OEM on, flag clear: from OEM", "\x8E\xA0", 0, true, u"\u041E\u0430"},
      {"OEM on, flag set: ANSI, since not UTF-8", "\x8E\xA0", 0x0800, true, u"\u040B\u00A0"},
      {"OEM off, flag clear: ANSI", "\x8E\xA0", 0, false, u"\u040B\u00A0"},
      {"OEM off: UTF-8 without the flag is UTF-8", "\xD0\x9F.txt", 0, false, u"\u041F.txt"},
      {"OEM off: UTF-8 with the flag", "\xD0\x9F.txt", 0x0800, false, u"\u041F.txt"},
      {"OEM on, flag set: UTF-8", "\xD0\x9F.txt", 0x0800, true, u"\u041F.txt"},
      {"four-byte sequence becomes a surrogate pair", "\xF0\x9F\x98\x80", 0x0800, true,
       u"\U0001F600"},
      {"case and separators kept", "Dir\\Sub/File.TXT", 0, true, u"Dir\\Sub/File.TXT"},
      {"empty", "", 0, true, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeCentralName(c.stored, c.flags, c.oem), c.expected);
  }
}

TEST(EntryNames, OemConversionStopsAtTheFirstZeroByte) {
  const std::string stored("\x8E\0\x8E", 3);
  EXPECT_EQ(ApplyOemRule(stored, 0, true), std::string("\xCE\0\x8E", 3));
  // Local-header names end at the zero byte and never go through UTF-8 detection.
  EXPECT_EQ(DecodeLocalName(stored, 0, true), u"\u041E");
  EXPECT_EQ(DecodeLocalName("\xD0\x9F", 0x0800, true), u"\u0420\u045F");
  EXPECT_EQ(DecodeLocalName("\x8E\xA0", 0, false), u"\u040B\u00A0");
}

}  // namespace
}  // namespace lumen
