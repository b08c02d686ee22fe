// Which entry a name selects: exact lookup ignoring case, "\" separators, drive letters, masks
// with the folder rule, and case-equal duplicates.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "archive/zip_archiver.h"
#include "tests/archive/archiver_harness.h"
#include "tests/support/zip_builder.h"

namespace lumen {
namespace {

using test::Bytes;
using test::OpenArchive;
using test::ZipBuilder;

Bytes SearchArchive() {
  ZipBuilder zb;
  zb.AddStored("Readme.TXT", "readme");
  zb.AddStored("docs/sub/notes.txt", "notes");
  zb.AddStored("/rooted.txt", "rooted");
  zb.AddStored("docs/a.txt", "docs-a");
  zb.AddStored("b.dat", "b");
  zb.AddDeflated("noext", "noext");
  zb.AddStored("DUP.txt", "dup-first");
  zb.AddStored("dup.TXT", "dup-second");
  zb.AddStored("C:/drive.txt", "drive");
  zb.AddFolder("folder/");
  zb.AddStored("x.DAT", "x");
  return zb.Build().bytes;
}

struct SearchCase {
  const char* label;
  std::u16string name;
  TZAStorePathMode storePath;
  const char* content;  // nullptr: native code 15
};

void PrintTo(const SearchCase& c, std::ostream* os) {
  *os << c.label;
}

class EntrySearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(EntrySearch, SelectsTheExpectedEntry) {
  const SearchCase& c = GetParam();
  OpenArchive archive(SearchArchive());
  archive.archiver().Options().SetStorePath(c.storePath);
  const test::Extraction result = archive.Extract(c.name);
  if (c.content == nullptr) {
    ASSERT_EQ(result.nativeError, 15);
    EXPECT_TRUE(result.output.empty());
  } else {
    ASSERT_FALSE(result.nativeError) << result.message;
    EXPECT_EQ(std::string(result.output.begin(), result.output.end()), c.content);
  }
  // The lookup's own setting is back whatever happened.
  EXPECT_TRUE(archive.archiver().Options().Recurse());
}

const SearchCase kSearchCases[] = {
    {"ExactName", u"Readme.TXT", spRelativePath, "readme"},
    {"OtherLetterCase", u"README.txt", spRelativePath, "readme"},
    {"NestedName", u"docs/sub/NOTES.TXT", spRelativePath, "notes"},
    {"BackslashSeparators", u"docs\\sub\\notes.txt", spRelativePath, "notes"},
    {"LaterOfTwoCaseEqualNames", u"dup.txt", spRelativePath, "dup-second"},
    {"DriveRemovedLeadingSlashKept", u"D:\\rooted.txt", spRelativePath, "rooted"},
    {"DriveRemovedWithoutSlashFindsNothing", u"D:rooted.txt", spRelativePath, nullptr},
    {"DriveDroppedUnlessStoredWithDrive", u"C:\\drive.txt", spRelativePath, nullptr},
    {"DriveKeptWithFullPathWithDrive", u"C:\\drive.txt", spFullPathWithDrive, "drive"},
    {"ExtensionMaskTakesLowestIndex", u"*.dat", spRelativePath, "b"},
    {"ExtensionMaskIgnoresCase", u"*.DaT", spRelativePath, "b"},
    {"StarDotStarTakesFirstOutsideFolders", u"*.*", spRelativePath, "readme"},
    {"StarDotTakesFirstWithoutExtension", u"*.", spRelativePath, "noext"},
    {"QuestionMark", u"?eadme.txt", spRelativePath, "readme"},
    {"MaskWithFolderLooksOnlyThere", u"docs/*.txt", spRelativePath, "docs-a"},
    {"MaskWithBackslashFolder", u"docs\\sub\\*", spRelativePath, "notes"},
    {"MaskOutsideFoldersSkipsNestedMatches", u"notes*", spRelativePath, nullptr},
    {"PlainNameIsNotAMaskForNestedEntries", u"notes.txt", spRelativePath, nullptr},
    {"PartialPathFindsNothing", u"sub/notes.txt", spRelativePath, nullptr},
    {"MissingName", u"missing.txt", spRelativePath, nullptr},
    {"MaskWithoutMatch", u"*.zzz", spRelativePath, nullptr},
    {"EmptyName", u"", spRelativePath, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Table, EntrySearch, ::testing::ValuesIn(kSearchCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(EntrySearchFailure, MissingEntryNamesTheCallersTextAndLeavesStateAsItWas) {
  OpenArchive archive(SearchArchive());
  archive.archiver().Options().SetRecurse(false);
  TMemoryStream out;
  out.WriteBuffer("keep", 4);
  try {
    archive.archiver().ExtractEntryTo(u"C:\\Lumen_Courier.exe", out);
    FAIL() << "found an entry that is not there";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError(), 15);
    EXPECT_EQ(e.Message(),
              "ZipArchiver1: File \"C:\\Lumen_Courier.exe\" not found - Native error: 00015");
  }
  EXPECT_EQ(test::StreamBytes(out), test::Text("keep"));
  EXPECT_FALSE(archive.archiver().Options().Recurse());
  EXPECT_TRUE(archive.archiver().IsOpen());
}

}  // namespace
}  // namespace lumen
