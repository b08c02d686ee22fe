// Loading the directory of archives built byte by byte, each showing one way the reader must
// cope: where the end record is, what lies before and after the archive, Zip64 records, name
// encodings, damaged or lying directories, and the rebuild from local headers.
#include "archive/dir_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/exceptions.h"
#include "tests/support/zip_builder.h"

namespace lumen {
namespace {

using test::Bytes;
using test::ZipBuilder;
using test::ZipEntry;
using test::ZipLayout;

struct Opened {
  std::unique_ptr<TMemoryStream> stream;
  std::unique_ptr<TZipArchiver> archiver;
  std::unique_ptr<TZADirManager> dm;

  TZADirArray& dir() { return dm->Directory(); }
  std::vector<std::u16string> names() {
    std::vector<std::u16string> out;
    for (int32_t i = 0; i < dir().Count(); ++i) out.push_back(dir().ItemAt(i).Name);
    return out;
  }
};

// A manager over the bytes, not yet loaded.
Opened Prepare(const Bytes& bytes, bool oemNames = true, bool repair = true) {
  Opened o;
  o.stream = test::MakeStream(bytes);
  o.archiver = std::make_unique<TZipArchiver>();
  o.archiver->Options().SetOEMFileNames(oemNames);
  o.archiver->SetRepairDirectory(repair);
  o.dm = std::make_unique<TZADirManager>(*o.stream, *o.archiver, false);
  return o;
}

Opened Load(const Bytes& bytes, bool oemNames = true, bool repair = true) {
  Opened o = Prepare(bytes, oemNames, repair);
  o.dm->LoadDirectory();
  return o;
}

// The native code of the EZAException that loading raises, or -1 for none / another exception.
int LoadFailureCode(const Bytes& bytes, bool repair = true) {
  Opened o = Prepare(bytes, true, repair);
  try {
    o.dm->LoadDirectory();
  } catch (const EZAException& e) {
    return e.NativeError();
  }
  return -1;
}

ZipBuilder ThreeEntries() {
  ZipBuilder zb;
  zb.AddDeflated("readme.txt", std::string(3000, 'r') + "end");
  zb.AddFolder("docs/");
  zb.AddStored("docs/notes.txt", "notes");
  return zb;
}

const std::vector<std::u16string> kThreeNames = {u"readme.txt", u"docs/", u"docs/notes.txt"};

TEST(DirManager, StreamsWithoutZipDataFailWithCode35) {
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"empty stream", {}},
      {"text", test::ToBytes("This is not an archive, just some text.\n")},
      {"a signature without room for a header", test::ToBytes("abcPK\x03\x04"
                                                              "0123456789")},
      {"a lone end record signature", test::ToBytes("PK\x05\x06")},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LoadFailureCode(bytes), 35);
  }
}

TEST(DirManager, PlainArchiveLoadsEveryFieldAndTheNameIndex) {
  ZipBuilder zb = ThreeEntries();
  zb.Entries()[2].comment = "entry comment";
  zb.Entries()[2].centralExtra = test::ExtraBlockBytes(0x7875, {1, 4, 0, 0, 0, 0});
  zb.SetComment("archive comment");
  const ZipLayout z = zb.Build();
  Opened o = Load(z.bytes);
  ASSERT_EQ(o.names(), kThreeNames);
  EXPECT_EQ(o.dm->StubSize(), 0);
  EXPECT_FALSE(o.dm->IsZip64());
  EXPECT_EQ(o.dm->DirectoryOffset(), static_cast<int64_t>(z.centralOffset));
  EXPECT_EQ(o.dm->ArchiveComment(), "archive comment");
  EXPECT_EQ(o.dm->EndRecord().TotalEntries, 3);
  const TDirItem& readme = o.dir().ItemAt(0);
  const auto& e0 = zb.Entries()[0];
  EXPECT_EQ(readme.Method, 8);
  EXPECT_EQ(readme.ActualMethod, 8);
  EXPECT_EQ(readme.Crc32, e0.crc32);
  EXPECT_EQ(readme.CompressedSize, e0.compressedSize);
  EXPECT_EQ(readme.UncompressedSize, 3003u);
  EXPECT_EQ(readme.LocalHeaderOffset, 0u);
  EXPECT_EQ(o.dir().ItemAt(1).ExternalAttributes, 0x10u);
  const TDirItem& notes = o.dir().ItemAt(2);
  EXPECT_EQ(notes.LocalHeaderOffset, z.localOffsets[2]);
  EXPECT_EQ(notes.Comment, "entry comment");
  ASSERT_EQ(notes.ExtraFields.size(), 1u);
  EXPECT_EQ(notes.ExtraFields[0].Tag, 0x7875);
  EXPECT_EQ(notes.ExtraFields[0].Data, (Bytes{1, 4, 0, 0, 0, 0}));
  int32_t index = -1;
  EXPECT_TRUE(o.dir().FindName(u"DOCS/Notes.TXT", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(o.dir().FindName(u"notes.txt", index));
  EXPECT_EQ(index, -1);
  EXPECT_EQ(o.dm->ZipStream().Size(), static_cast<int64_t>(z.bytes.size()));  // nothing written
}

TEST(DirManager, ArchiveOfOnlyAnEndRecord) {
  for (size_t prefix : {0u, 100u}) {
    SCOPED_TRACE(prefix);
    ZipBuilder zb;
    zb.SetPrefix(Bytes(prefix, 0x20));
    Opened o = Load(zb.Build().bytes);
    EXPECT_EQ(o.dir().Count(), 0);
    EXPECT_EQ(o.dm->StubSize(), static_cast<int64_t>(prefix));
    EXPECT_EQ(o.dm->DirectoryOffset(), 0);
  }
}

TEST(DirManager, EndRecordIsFoundWithinTheLastBytesOnly) {
  // Longest comment: still found. Bytes after the record: found while the record starts within
  // the last 65,600 bytes, otherwise the directory is rebuilt from the local headers.
  struct Case {
    const char* name;
    size_t commentLength;
    size_t trailerLength;
    bool found;
  };
  const std::vector<Case> cases = {
      {"65,535-byte comment", 65535, 0, true},
      {"65,578 bytes after the record", 0, 65578, true},
      {"65,579 bytes after the record", 0, 65579, false},
      {"comment and trailer just fitting", 60000, 5578, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZipBuilder zb = ThreeEntries();
    zb.SetComment(std::string(c.commentLength, 'c'));
    zb.SetTrailer(Bytes(c.trailerLength, 0x00));
    const ZipLayout z = zb.Build();
    Opened o = Load(z.bytes);
    EXPECT_EQ(o.names(), kThreeNames);
    const int64_t expectedOffset =
        c.found ? static_cast<int64_t>(z.centralOffset) : static_cast<int64_t>(z.bytes.size());
    EXPECT_EQ(o.dm->DirectoryOffset(), expectedOffset);
    EXPECT_EQ(o.dm->ArchiveComment().size(), c.found ? c.commentLength : 0u);
  }
}

TEST(DirManager, PlausibleEndRecordInsideTheCommentWins) {
  // An end record for an empty archive, quoted in the comment; it is nearer the end and passes.
  Bytes fake;
  test::PutU32(fake, 0x06054b50);
  for (int k = 0; k < 4; ++k) test::PutU16(fake, 0);
  test::PutU32(fake, 0);
  test::PutU32(fake, 0);
  test::PutU16(fake, 3);
  test::PutBytes(fake, "xyz");
  ZipBuilder zb = ThreeEntries();
  zb.SetComment("quoted: " + std::string(fake.begin(), fake.end()));
  Opened o = Load(zb.Build().bytes);
  EXPECT_EQ(o.dir().Count(), 0);
  EXPECT_EQ(o.dm->ArchiveComment(), "xyz");

  // The same bytes with an implausible count (more on this disk than in total) are skipped.
  test::SetU16(fake, 8, 1);
  ZipBuilder zb2 = ThreeEntries();
  zb2.SetComment("quoted: " + std::string(fake.begin(), fake.end()));
  Opened o2 = Load(zb2.Build().bytes);
  EXPECT_EQ(o2.names(), kThreeNames);
}

TEST(DirManager, PrefixIsMeasuredAndOffsetsCorrectedOnlyWhenTheyDoNotCountIt) {
  for (bool offsetsCountPrefix : {true, false}) {
    SCOPED_TRACE(offsetsCountPrefix ? "offsets count the prefix" : "offsets start at the archive");
    ZipBuilder zb = ThreeEntries();
    Bytes prefix(1000);
    for (size_t i = 0; i < prefix.size(); ++i) prefix[i] = static_cast<uint8_t>(i * 31 + 7);
    zb.SetPrefix(prefix, offsetsCountPrefix);
    const ZipLayout z = zb.Build();
    Opened o = Load(z.bytes);
    ASSERT_EQ(o.names(), kThreeNames);
    EXPECT_EQ(o.dm->StubSize(), 1000);
    // Files point at their real headers either way; the folder keeps what was stored.
    EXPECT_EQ(o.dir().ItemAt(0).LocalHeaderOffset, z.localOffsets[0]);
    EXPECT_EQ(o.dir().ItemAt(2).LocalHeaderOffset, z.localOffsets[2]);
    const uint32_t storedFolderOffset =
        static_cast<uint32_t>(z.localOffsets[1] - (offsetsCountPrefix ? 0 : 1000));
    EXPECT_EQ(o.dir().ItemAt(1).LocalHeaderOffset, storedFolderOffset);
  }
}

TEST(DirManager, FirstEntryWithoutDataBehindALaterOneSetsTheStub) {
  // The directory lists an empty file first although its local header comes second.
  ZipBuilder zb;
  zb.AddStored("data.bin", "some data");
  zb.AddStored("empty.txt", "");
  ZipLayout z = zb.Build();
  ZipBuilder reordered;
  reordered.Add(zb.Entries()[1]).storedOffset = static_cast<uint32_t>(z.localOffsets[1]);
  reordered.Add(zb.Entries()[0]).storedOffset = static_cast<uint32_t>(z.localOffsets[0]);
  // Lay the local headers out as in z and put the reordered directory after them.
  ZipLayout r = reordered.Build();
  Bytes bytes(z.bytes.begin(), z.bytes.begin() + static_cast<ptrdiff_t>(z.centralOffset));
  bytes.insert(bytes.end(), r.bytes.begin() + static_cast<ptrdiff_t>(r.centralOffset),
               r.bytes.end());
  test::SetU32(bytes, bytes.size() - 6, static_cast<uint32_t>(z.centralOffset));
  Opened o = Load(bytes);
  ASSERT_EQ(o.names(), (std::vector<std::u16string>{u"empty.txt", u"data.bin"}));
  const int64_t x = static_cast<int64_t>(z.localOffsets[1]);
  EXPECT_EQ(o.dm->StubSize(), x);
  EXPECT_EQ(o.dir().ItemAt(0).LocalHeaderOffset, z.localOffsets[1] + x);
  EXPECT_EQ(o.dir().ItemAt(1).LocalHeaderOffset, z.localOffsets[0] + x);
}

TEST(DirManager, DamagedOrLyingDirectoriesAreRebuiltFromLocalHeaders) {
  struct Case {
    const char* name;
    std::function<Bytes(const ZipLayout&)> damage;
  };
  const std::vector<Case> cases = {
      {"directory cut short in the middle",
       [](const ZipLayout& z) {
         Bytes b(z.bytes.begin(),
                 z.bytes.begin() + static_cast<ptrdiff_t>(z.centralOffset + z.centralSize / 2));
         b.insert(b.end(), z.bytes.begin() + static_cast<ptrdiff_t>(z.endRecordOffset),
                  z.bytes.end());
         return b;
       }},
      {"end record claims one entry too many",
       [](const ZipLayout& z) {
         Bytes b = z.bytes;
         test::SetU16(b, z.endRecordOffset + 8, 4);
         test::SetU16(b, z.endRecordOffset + 10, 4);
         return b;
       }},
      {"65,535 entries without Zip64 records",
       [](const ZipLayout& z) {
         Bytes b = z.bytes;
         test::SetU16(b, z.endRecordOffset + 8, 0xFFFF);
         test::SetU16(b, z.endRecordOffset + 10, 0xFFFF);
         return b;
       }},
      {"directory size reaching before the stream",
       [](const ZipLayout& z) {
         Bytes b = z.bytes;
         test::SetU32(b, z.endRecordOffset + 12, static_cast<uint32_t>(z.endRecordOffset + 10));
         return b;
       }},
      {"no end record at all",
       [](const ZipLayout& z) {
         return Bytes(z.bytes.begin(), z.bytes.begin() + static_cast<ptrdiff_t>(z.endRecordOffset));
       }},
  };
  ZipBuilder zb;
  // Contents of 0xFF bytes make any header read from the wrong place claim huge lengths.
  zb.AddStored("readme.txt", std::string(400, '\xFF'));
  zb.AddFolder("docs/");
  zb.AddStored("docs/notes.txt", std::string(300, '\xFF'));
  const ZipLayout z = zb.Build();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes b = c.damage(z);
    Opened o = Load(b);
    EXPECT_EQ(o.names(), kThreeNames);
    EXPECT_EQ(o.dm->DirectoryOffset(), static_cast<int64_t>(b.size()));
    ASSERT_EQ(o.dir().Count(), 3);
    EXPECT_EQ(o.dir().ItemAt(0).LocalHeaderOffset, 0u);
    EXPECT_EQ(o.dir().ItemAt(0).CompressedSize, 400u);
    EXPECT_EQ(o.dir().ItemAt(0).ExternalAttributes, 0x20u);
    EXPECT_EQ(o.dir().ItemAt(1).ExternalAttributes, 0x10u);
    EXPECT_EQ(o.dir().ItemAt(2).LocalHeaderOffset, z.localOffsets[2]);
  }
}

TEST(DirManager, WithoutRepairTheDirectoryFailureReachesTheCaller) {
  ZipBuilder zb = ThreeEntries();
  ZipLayout z = zb.Build();
  test::SetU16(z.bytes, z.endRecordOffset + 8, 4);
  test::SetU16(z.bytes, z.endRecordOffset + 10, 4);
  Opened o = Prepare(z.bytes, true, false);
  EXPECT_THROW(o.dm->LoadDirectory(), EReadError);

  // Sizes that add up to more than the stream are refused.
  ZipBuilder big = ThreeEntries();
  big.Entries()[2].compressedSize = 0x7FFFFFFF;
  EXPECT_EQ(LoadFailureCode(big.Build().bytes, false), 57);
  EXPECT_EQ(LoadFailureCode(big.Build().bytes, true), -1);
}

TEST(DirManager, ImpossibleEntryCountsDoNotAllocateUpFront) {
  // A tiny stream whose Zip64 end record claims four billion entries.
  ZipBuilder zb;
  zb.AddStored("a.txt", "a");
  zb.SetZip64();
  ZipLayout z = zb.Build();
  for (size_t field : {24u, 32u}) {
    for (int k = 0; k < 8; ++k) z.bytes[z.zip64EndOffset + field + k] = k < 4 ? 0xFF : 0x00;
  }
  Opened o = Prepare(z.bytes, true, false);
  EXPECT_THROW(o.dm->LoadDirectory(), EReadError);
  EXPECT_LE(o.dir().Capacity(), 1000);

  Opened repaired = Load(z.bytes);
  EXPECT_EQ(repaired.names(), (std::vector<std::u16string>{u"a.txt"}));
}

TEST(DirManager, NamesFollowTheOemRuleAndTheirOwnEncoding) {
  struct Case {
    const char* name;
    std::string stored;
    uint16_t flags;
    bool oem;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"OEM bytes, flag clear, OEM names on", "\x8E\xA0", 0, true, u"\u041E\u0430"},
      {"OEM bytes, flag set, OEM names on", "\x8E\xA0", 0x0800, true, u"\u040B\u00A0"},
      {"OEM bytes, flag clear, OEM names off", "\x8E\xA0", 0, false, u"\u040B\u00A0"},
      {"OEM bytes, flag set, OEM names off", "\x8E\xA0", 0x0800, false, u"\u040B\u00A0"},
      {"UTF-8 with flag", "\xD0\x9F\xD1\x80\xD0\xB8.txt", 0x0800, true, u"\u041F\u0440\u0438.txt"},
      {"UTF-8 without flag, OEM names off", "\xD0\x9F\xD1\x80\xD0\xB8.txt", 0, false,
       u"\u041F\u0440\u0438.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZipBuilder zb;
    zb.AddStored(c.stored, "x").flags = c.flags;
    Opened o = Load(zb.Build().bytes, c.oem);
    EXPECT_EQ(o.names(), (std::vector<std::u16string>{c.expected}));
  }
}

TEST(DirManager, UnicodeNameBlockReplacesTheNameOnlyWithItsSignature) {
  const std::u16string unicodeName = u"\u65E5\u672C/\u0444\u0430\u0439\u043B.txt";
  ZipBuilder zb;
  zb.AddStored("fallback.txt", "1").centralExtra = test::UnicodeNameBlock(unicodeName);
  zb.AddStored("kept.txt", "2").centralExtra = test::UnicodeNameBlock(u"ignored", 0x5843554F);
  zb.AddStored("short.txt", "3").centralExtra = test::UnicodeNameBlock(u"abc", 0x5843554E, 40);
  Opened o = Load(zb.Build().bytes);
  EXPECT_EQ(o.names(), (std::vector<std::u16string>{unicodeName, u"kept.txt", u"short.txt"}));
  int32_t index = -1;
  EXPECT_TRUE(o.dir().FindName(u"\u65E5\u672C/\u0424\u0410\u0419\u041B.TXT", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(o.dir().FindName(u"fallback.txt", index));
}

TEST(DirManager, SameNameInAnotherCaseFindsTheLastEntry) {
  ZipBuilder zb;
  zb.AddStored("Setup.EXE", "first");
  zb.AddStored("setup.exe", "second");
  Opened o = Load(zb.Build().bytes);
  int32_t index = -1;
  ASSERT_TRUE(o.dir().FindName(u"SETUP.exe", index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(o.dir().ItemAt(0).Name, u"Setup.EXE");
}

TEST(DirManager, TwoEmptyNamesFailWithCode59FromBothPaths) {
  ZipBuilder zb;
  zb.AddStored("", "a");
  zb.AddStored("", "b");
  const Bytes bytes = zb.Build().bytes;
  EXPECT_EQ(LoadFailureCode(bytes, false), 59);  // the central directory's own failure
  EXPECT_EQ(LoadFailureCode(bytes, true), 59);   // dropped, then the rebuild meets it again
}

TEST(DirManager, Zip64RecordsGiveCountPositionAnd64BitValues) {
  ZipBuilder zb = ThreeEntries();
  for (auto& e : zb.Entries()) e.zip64 = true;
  ZipEntry huge;
  huge.name = "huge.bin";
  huge.uncompressedSize = 0xFFFFFFFF;
  huge.compressedSize = 0xFFFFFFFF;
  huge.diskNumberStart = 0xFFFF;
  huge.centralExtra = test::Zip64ExtraBlock({0x123456789ull, 0x100000001ull}, 0x00020001);
  zb.Add(huge);
  zb.SetZip64();
  zb.SetPrefix(Bytes(64, 0x00));
  const ZipLayout z = zb.Build();
  for (auto mode : {zmDisabled, zmAlways}) {
    Opened o = Prepare(z.bytes);
    o.archiver->SetZip64Mode(mode);
    o.dm->LoadDirectory();
    EXPECT_TRUE(o.dm->IsZip64());
    ASSERT_EQ(o.dir().Count(), 4);
    EXPECT_EQ(o.dm->DirectoryOffset(), static_cast<int64_t>(z.centralOffset));
    EXPECT_EQ(o.dm->StubSize(), 64);
    const TDirItem& readme = o.dir().ItemAt(0);
    EXPECT_TRUE(readme.HasZip64Info);
    EXPECT_EQ(readme.CompressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(readme.CompressedSizeValue(), zb.Entries()[0].compressedSize);
    EXPECT_EQ(readme.UncompressedSizeValue(), 3003u);
    EXPECT_EQ(readme.LocalHeaderOffsetValue(), 64u);
    EXPECT_EQ(o.dir().ItemAt(2).LocalHeaderOffsetValue(), z.localOffsets[2]);
    const TDirItem& h = o.dir().ItemAt(3);
    EXPECT_EQ(h.UncompressedSizeValue(), 0x123456789ull);
    EXPECT_EQ(h.CompressedSizeValue(), 0x100000001ull);
    EXPECT_EQ(h.DiskNumberStartValue(), 1u);  // the low half of the stored 32-bit number
  }
}

TEST(DirManager, Zip64LocatorWithoutItsEndRecord) {
  ZipBuilder zb = ThreeEntries();
  zb.SetZip64();
  const ZipLayout z = zb.Build();
  const size_t locator = z.endRecordOffset - 20;
  Bytes wrongSignature = z.bytes;
  wrongSignature[z.zip64EndOffset + 3] = 0x07;
  EXPECT_EQ(LoadFailureCode(wrongSignature), 40);
  Bytes offsetNearTheEnd = z.bytes;
  test::SetU32(offsetNearTheEnd, locator + 8, static_cast<uint32_t>(z.bytes.size() - 30));
  Opened o = Prepare(offsetNearTheEnd);
  EXPECT_THROW(o.dm->LoadDirectory(), EReadError);
  // The same archive behind a prefix that its offsets do not count: the locator misses.
  ZipBuilder prefixed = ThreeEntries();
  prefixed.SetZip64().SetPrefix(Bytes(500, 0x01), false);
  EXPECT_EQ(LoadFailureCode(prefixed.Build().bytes), 40);
}

TEST(DirManager, AesBlockNamesTheMethodBelowTheStrongEncryptionVersion) {
  struct Case {
    uint16_t versionNeeded;
    uint8_t strength;
    uint16_t actualMethod;
    TZACryptoAlgorithm algorithm;
  };
  const std::vector<Case> cases = {
      {51, 1, 8, caAES_128},           {51, 2, 8, caAES_192}, {51, 3, 0, caAES_256},
      {51, 9, 8, caPkzipClassic},  // unknown strength leaves the algorithm
      {0x4114, 3, 99, caPkzipClassic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.versionNeeded * 100 + c.strength);
    ZipBuilder zb;
    ZipEntry& e = zb.AddStored("secret.txt", "0123456789");
    e.method = 99;
    e.flags = 0x0001;
    e.versionNeeded = c.versionNeeded;
    e.centralExtra = test::AesExtraBlock(c.strength, c.actualMethod == 99 ? 8 : c.actualMethod);
    Opened o = Load(zb.Build().bytes);
    const TDirItem& item = o.dir().ItemAt(0);
    EXPECT_EQ(item.Method, 99);
    EXPECT_EQ(item.ActualMethod, c.actualMethod);
    EXPECT_EQ(item.CryptoAlgorithm, c.algorithm);
  }
}

TEST(DirManager, LastVolumeAloneIsReadWithoutMeasuringAStub) {
  ZipBuilder zb = ThreeEntries();
  zb.SetPrefix(Bytes(300, 0x11));
  zb.EndRecord().diskNumber = 1;
  zb.EndRecord().directoryDisk = 1;
  Opened o = Load(zb.Build().bytes);
  EXPECT_EQ(o.names(), kThreeNames);
  EXPECT_EQ(o.dm->StubSize(), 0);
  EXPECT_EQ(o.dir().ItemAt(0).LocalHeaderOffset, 300u);
}

TEST(DirManager, RebuiltNamesAreOemOnlyWhenAnEndRecordWasSeen) {
  // OEM bytes "\x8E\xA0" are "\u041E\u0430" from CP866 and "\u040B\u00A0" from CP1251; rebuilt
  // names never go through UTF-8 detection and end at their first zero byte.
  ZipBuilder zb;
  zb.AddStored("\x8E\xA0", "x");
  zb.AddStored(std::string("cut\0tail", 8), "y");
  zb.AddStored("\xD0\x9F", "z").flags = 0x0800;
  ZipLayout z = zb.Build();
  const Bytes noEndRecord(z.bytes.begin(),
                          z.bytes.begin() + static_cast<ptrdiff_t>(z.endRecordOffset));
  Opened without = Load(noEndRecord);
  EXPECT_EQ(without.names(),
            (std::vector<std::u16string>{u"\u040B\u00A0", u"cut", u"\u0420\u045F"}));
  Bytes wrappedCount = z.bytes;
  test::SetU16(wrappedCount, z.endRecordOffset + 8, 0xFFFF);
  test::SetU16(wrappedCount, z.endRecordOffset + 10, 0xFFFF);
  Opened with = Load(wrappedCount);
  EXPECT_EQ(with.dm->DirectoryOffset(), static_cast<int64_t>(wrappedCount.size()));
  EXPECT_EQ(with.names(), (std::vector<std::u16string>{u"\u041E\u0430", u"cut", u"\u0420\u045F"}));
}

TEST(DirManager, RebuildTakesSizesFromDataDescriptors) {
  ZipBuilder zb;
  zb.AddDeflated("streamed.txt", std::string(5000, 's')).dataDescriptor = true;
  zb.AddStored("plain.txt", "plain");
  ZipLayout z = zb.Build();
  const Bytes noDirectory(z.bytes.begin(),
                          z.bytes.begin() + static_cast<ptrdiff_t>(z.centralOffset));
  Opened o = Load(noDirectory);
  ASSERT_EQ(o.names(), (std::vector<std::u16string>{u"streamed.txt", u"plain.txt"}));
  const TDirItem& s = o.dir().ItemAt(0);
  EXPECT_EQ(s.Crc32, zb.Entries()[0].crc32);
  EXPECT_EQ(s.CompressedSize, zb.Entries()[0].compressedSize);
  EXPECT_EQ(s.UncompressedSize, 5000u);
  EXPECT_EQ(s.ExternalAttributes, 0x20u);
  EXPECT_EQ(o.dir().ItemAt(1).UncompressedSize, 5u);
}

TEST(DirManager, DamagedBytesAnywhereEndInALoadOrAnArchiverOrReadError) {
  // Every byte of a small archive with all the record kinds, changed in turn, and every cut: the
  // load either succeeds with a consistent name index or fails with the archiver's or the
  // stream's own exception, never anything else.
  ZipBuilder zb;
  zb.AddDeflated("readme.txt", "hello hello hello").centralExtra =
      test::UnicodeNameBlock(u"\u0444.txt");
  zb.AddStored("b.bin", "bb").dataDescriptor = true;
  zb.Entries()[1].zip64 = true;
  zb.AddFolder("dir/");
  zb.SetZip64().SetPrefix(Bytes(40, 0x33)).SetComment("comment");
  const Bytes good = zb.Build().bytes;
  std::vector<Bytes> inputs;
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(good[i] ^ 0x01)}) {
      Bytes b = good;
      b[i] = v;
      inputs.push_back(std::move(b));
    }
    inputs.emplace_back(good.begin(), good.begin() + static_cast<ptrdiff_t>(i));
  }
  int loaded = 0;
  for (size_t k = 0; k < inputs.size(); ++k) {
    for (bool repair : {true, false}) {
      Opened o = Prepare(inputs[k], true, repair);
      try {
        o.dm->LoadDirectory();
      } catch (const EZAException&) {
        continue;
      } catch (const EReadError&) {
        continue;
      }
      ++loaded;
      TZAHashedStringList& index = o.dir().NameIndex();
      ASSERT_EQ(index.Count(), o.dir().Count()) << k;
      for (int32_t i = 0; i < o.dir().Count(); ++i) {
        ASSERT_EQ(index.Strings(i), LowerName(o.dir().ItemAt(i).Name)) << k;
      }
      EXPECT_LE(o.dm->DirectoryOffset(), static_cast<int64_t>(inputs[k].size()));
    }
  }
  EXPECT_GT(loaded, 0);
}

TEST(DirArray, GrowsInStepsAndRangeChecks) {
  TZADirArray d;
  d.SetCount(1);
  EXPECT_EQ(d.Capacity(), 1000);
  d.SetCount(1001);
  EXPECT_EQ(d.Capacity(), 3000);
  d.SetCount(20000);
  EXPECT_EQ(d.Capacity(), 20000);
  d.ItemAt(5).Crc32 = 7;
  d.SetCount(3);
  d.SetCount(6);
  EXPECT_EQ(d.ItemAt(5).Crc32, 0u);  // items given up come back empty
  EXPECT_EQ(d.GetItem(0).Crc32, 0u);
  const std::vector<std::pair<int32_t, int>> outside = {{-1, 0}, {6, 0}};
  for (const auto& [index, unused] : outside) {
    try {
      d.GetItem(index);
      ADD_FAILURE() << "GetItem " << index;
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError(), 2);
      EXPECT_EQ(e.Message().rfind("Index out of bounds", 0), 0u) << e.Message();
    }
    try {
      d.ItemAt(index);
      ADD_FAILURE() << "ItemAt " << index;
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError(), 3);
    }
  }
  d.SetCount(0);
  EXPECT_EQ(d.Capacity(), 0);
}

}  // namespace
}  // namespace lumen
