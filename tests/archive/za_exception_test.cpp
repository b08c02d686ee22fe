// Composition of the archiver's error messages: code map, placeholders, component name, suffix.
#include "archive/za_exception.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/component.h"

namespace lumen {
namespace {

struct MessageCase {
  const char* label;
  int32_t native;
  std::optional<std::vector<FormatArg>> args;  // nullopt: made without arguments
  const char* componentName;                   // nullptr: no archiver given
  int32_t errorCode;
  std::string message;
};

void PrintTo(const MessageCase& c, std::ostream* os) {
  *os << c.label;
}

class EZAExceptionMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(EZAExceptionMessage, ComposesTextNameAndCode) {
  const MessageCase& c = GetParam();
  TComponent archiver;
  const TComponent* source = nullptr;
  if (c.componentName != nullptr) {
    archiver.SetName(c.componentName);
    source = &archiver;
  }
  const EZAException e =
      c.args ? EZAException(c.native, *c.args, source) : EZAException(c.native, source);
  EXPECT_EQ(e.NativeError(), c.native);
  EXPECT_EQ(e.ErrorCode(), c.errorCode);
  EXPECT_EQ(e.Message(), c.message);
  EXPECT_STREQ(e.what(), c.message.c_str());
}

const MessageCase kMessageCases[] = {
    {"EntryNotFoundNamesComponentAndEntry", 15, std::vector<FormatArg>{u"Lumen_Courier.exe"},
     "ZipArchiver1", 6, "ZipArchiver1: File \"Lumen_Courier.exe\" not found - Native error: 00015"},
    {"InvalidArchiveWithoutComponent", 35, std::nullopt, nullptr, 18,
     "Invalid archive file. - Native error: 00035"},
    {"EmptyComponentNameLeavesNoPrefix", 13, std::nullopt, "", 7,
     "Archive is not open - Native error: 00013"},
    {"NamedComponentPrefix", 13, std::nullopt, "ZipArchiver1", 7,
     "ZipArchiver1: Archive is not open - Native error: 00013"},
    {"CodeAboveMapIsUnknown", 68, std::nullopt, nullptr, 0, "Unknown error - Native error: 00068"},
    {"NegativeCodeIsUnknown", -1, std::nullopt, nullptr, 0, "Unknown error - Native error: 000-1"},
    {"LargeCodeKeepsAllDigits", 123456, std::nullopt, nullptr, 0,
     "Unknown error - Native error: 123456"},
    {"SharedErrorCodePadsSuffix", 7, std::nullopt, nullptr, 1,
     "Index out of bounds - Native error: 00007"},
    {"CodeZero", 0, std::nullopt, nullptr, 0, "Unknown error - Native error: 00000"},
    {"PlaceholderKeptWithoutArguments", 15, std::nullopt, nullptr, 6,
     "File \"%s\" not found - Native error: 00015"},
    {"IntegerPlaceholdersKeptWithoutArguments", 34, std::nullopt, nullptr, 17,
     "Invalid compressed size, rfs.size = %d, count = %d - Native error: 00034"},
    {"IntegerPlaceholdersFilled", 34, std::vector<FormatArg>{5, 70000}, nullptr, 17,
     "Invalid compressed size, rfs.size = 5, count = 70000 - Native error: 00034"},
    {"TextWithoutPlaceholdersIgnoresArguments", 8, std::vector<FormatArg>{"ignored", 3},
     "ZipArchiver1", 4,
     "ZipArchiver1: Invalid size or check sum of file or unsupported compression format - "
     "Native error: 00008"},
    {"LineBreakBeforeQuotedName", 61, std::vector<FormatArg>{"a.txt"}, nullptr, 36,
     "File name is too long: \r\n\"a.txt\" - Native error: 00061"},
    {"MisspellingKept", 37, std::nullopt, nullptr, 20,
     "Archive is open. You should close it beore performing this operation. - Native error: "
     "00037"},
    {"ArgumentPercentSignsAreNotFormatting", 15, std::vector<FormatArg>{u"a%s%d%n%%.txt"}, "Zip%s",
     6, "Zip%s: File \"a%s%d%n%%.txt\" not found - Native error: 00015"},
    // Cyrillic entry names reach the message in the ANSI code page (Windows-1251).
    {"WideArgumentConvertedToAnsi", 15, std::vector<FormatArg>{u"\u0444\u0430\u0439\u043b"},
     nullptr, 6, "File \"\xF4\xE0\xE9\xEB\" not found - Native error: 00015"},
    {"MissingArgumentKeepsPlaceholder", 63, std::vector<FormatArg>{4}, nullptr, 38,
     "Invalid InitVector index = 4. Index should be >= 0 and < %d - Native error: 00063"},
    {"LastCode", 67, std::nullopt, nullptr, 40,
     "Invalid password. Cannot decompress encrypted file. - Native error: 00067"},
};

INSTANTIATE_TEST_SUITE_P(Table, EZAExceptionMessage, ::testing::ValuesIn(kMessageCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The map as a whole: every native code 0..67 lands on its listed error code, so that a shifted
// or missing pair shows up even for codes no operation raises yet.
TEST(EZAExceptionCodeMap, EveryNativeCodeMapsToItsErrorCode) {
  const int32_t expected[68] = {0,  1,  1,  1,  1,  2,  3,  1,  4,  5,  5,  6,  6,  7,  7,  6,  1,
                                8,  6,  9,  10, 1,  11, 9,  1,  11, 13, 14, 15, 5,  6,  6,  16, 12,
                                17, 18, 19, 20, 6,  21, 22, 23, 6,  23, 24, 24, 25, 26, 27, 28, 29,
                                30, 31, 6,  6,  32, 33, 27, 34, 34, 35, 36, 37, 38, 38, 39, 39, 40};
  for (int32_t native = 0; native < 68; ++native) {
    EXPECT_EQ(EZAException::ErrorCodeOf(native), expected[native]) << "native " << native;
    EXPECT_FALSE(EZAException::MessageText(expected[native]).empty());
  }
  EXPECT_TRUE(EZAException::MessageText(41).empty());
}

TEST(EZAExceptionHierarchy, CaughtAsPlatformException) {
  try {
    throw EZAException(55);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Deflate64 compression method is not supported - Native error: 00055");
  }
}

TEST(FormatMessageText, SubstitutesByTypeAndKeepsUnknownSequences) {
  EXPECT_EQ(FormatMessageText("%d of %s", {"x", 7}), "x of 7");
  EXPECT_EQ(FormatMessageText("100%% %x %", {}), "100% %x %");
  EXPECT_EQ(FormatMessageText("%s%s", {"a"}), "a%s");
}

}  // namespace
}  // namespace lumen
