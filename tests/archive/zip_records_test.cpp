// ZIP record decoding: every field of every record lands in its place, records cut short are
// reported instead of read past, and the extra blocks behave at their edges.
#include "archive/zip_records.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/byte_cursor.h"
#include "tests/support/zip_builder.h"

namespace lumen {
namespace {

using test::Bytes;
using test::PutU16;
using test::PutU32;
using test::PutU64;
using test::PutU8;

TEST(ByteCursor, FailureStaysSetAndLaterReadsGiveZero) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  TByteCursor c(data, sizeof data);
  EXPECT_EQ(c.U16(), 0x0201);
  EXPECT_EQ(c.U32(), 0u);  // only 3 bytes left
  EXPECT_FALSE(c.Ok());
  EXPECT_EQ(c.U8(), 0);  // even though a byte would fit
  EXPECT_EQ(c.Bytes(1), nullptr);
  EXPECT_EQ(c.Remaining(), 0u);
}

TEST(ByteCursor, ReadsLittleEndianWidths) {
  const uint8_t data[] = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01, 0x7F};
  TByteCursor c(data, sizeof data);
  EXPECT_EQ(c.U64(), 0x0123456789ABCDEFull);
  EXPECT_EQ(c.U8(), 0x7F);
  EXPECT_TRUE(c.Ok());
  EXPECT_EQ(c.Remaining(), 0u);
}

// Each fixed record with a distinct value in every field, so a swapped or misplaced field shows.
struct RecordCase {
  const char* name;
  Bytes bytes;
  std::function<bool(const uint8_t*, size_t)> decodeAndCheck;
};

Bytes EndRecordBytes() {
  Bytes b;
  PutU32(b, 0x06054b50);
  PutU16(b, 0x0102);
  PutU16(b, 0x0304);
  PutU16(b, 0x0506);
  PutU16(b, 0x0708);
  PutU32(b, 0x090A0B0C);
  PutU32(b, 0x0D0E0F10);
  PutU16(b, 0x1112);
  return b;
}

Bytes Zip64LocatorBytes() {
  Bytes b;
  PutU32(b, 0x07064b50);
  PutU32(b, 0x01020304);
  PutU64(b, 0x05060708090A0B0Cull);
  PutU32(b, 0x0D0E0F10);
  return b;
}

Bytes Zip64EndRecordBytes() {
  Bytes b;
  PutU32(b, 0x06064b50);
  PutU64(b, 0x0102030405060708ull);
  PutU16(b, 0x090A);
  PutU16(b, 0x0B0C);
  PutU32(b, 0x0D0E0F10);
  PutU32(b, 0x11121314);
  PutU64(b, 0x15161718191A1B1Cull);
  PutU64(b, 0x1D1E1F2021222324ull);
  PutU64(b, 0x25262728292A2B2Cull);
  PutU64(b, 0x2D2E2F3031323334ull);
  return b;
}

Bytes CentralHeaderBytes() {
  Bytes b;
  PutU32(b, 0x02014b50);
  for (uint16_t v : {0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C}) PutU16(b, v);
  PutU32(b, 0x0D0E0F10);
  PutU32(b, 0x11121314);
  PutU32(b, 0x15161718);
  for (uint16_t v : {0x191A, 0x1B1C, 0x1D1E, 0x1F20, 0x2122}) PutU16(b, v);
  PutU32(b, 0x23242526);
  PutU32(b, 0x2728292A);
  return b;
}

Bytes LocalHeaderBytes() {
  Bytes b;
  PutU32(b, 0x04034b50);
  for (uint16_t v : {0x0102, 0x0304, 0x0506, 0x0708, 0x090A}) PutU16(b, v);
  PutU32(b, 0x0B0C0D0E);
  PutU32(b, 0x0F101112);
  PutU32(b, 0x13141516);
  PutU16(b, 0x1718);
  PutU16(b, 0x191A);
  return b;
}

Bytes DataDescriptorBytes() {
  Bytes b;
  for (uint32_t v : {0x08074b50u, 0x01020304u, 0x05060708u, 0x090A0B0Cu}) PutU32(b, v);
  return b;
}

std::vector<RecordCase> RecordCases() {
  return {
      {"end record", EndRecordBytes(),
       [](const uint8_t* p, size_t n) {
         EndRecord r;
         if (!DecodeEndRecord(p, n, r)) return false;
         EXPECT_EQ(r.Signature, 0x06054b50u);
         EXPECT_EQ(r.DiskNumber, 0x0102);
         EXPECT_EQ(r.DirectoryDisk, 0x0304);
         EXPECT_EQ(r.EntriesOnDisk, 0x0506);
         EXPECT_EQ(r.TotalEntries, 0x0708);
         EXPECT_EQ(r.DirectorySize, 0x090A0B0Cu);
         EXPECT_EQ(r.DirectoryOffset, 0x0D0E0F10u);
         EXPECT_EQ(r.CommentLength, 0x1112);
         return true;
       }},
      {"Zip64 locator", Zip64LocatorBytes(),
       [](const uint8_t* p, size_t n) {
         Zip64Locator r;
         if (!DecodeZip64Locator(p, n, r)) return false;
         EXPECT_EQ(r.Signature, 0x07064b50u);
         EXPECT_EQ(r.Zip64EndDisk, 0x01020304u);
         EXPECT_EQ(r.Zip64EndOffset, 0x05060708090A0B0Cull);
         EXPECT_EQ(r.TotalDisks, 0x0D0E0F10u);
         return true;
       }},
      {"Zip64 end record", Zip64EndRecordBytes(),
       [](const uint8_t* p, size_t n) {
         Zip64EndRecord r;
         if (!DecodeZip64EndRecord(p, n, r)) return false;
         EXPECT_EQ(r.Signature, 0x06064b50u);
         EXPECT_EQ(r.RecordSize, 0x0102030405060708ull);
         EXPECT_EQ(r.VersionMadeBy, 0x090A);
         EXPECT_EQ(r.VersionNeeded, 0x0B0C);
         EXPECT_EQ(r.DiskNumber, 0x0D0E0F10u);
         EXPECT_EQ(r.DirectoryDisk, 0x11121314u);
         EXPECT_EQ(r.EntriesOnDisk, 0x15161718191A1B1Cull);
         EXPECT_EQ(r.TotalEntries, 0x1D1E1F2021222324ull);
         EXPECT_EQ(r.DirectorySize, 0x25262728292A2B2Cull);
         EXPECT_EQ(r.DirectoryOffset, 0x2D2E2F3031323334ull);
         return true;
       }},
      {"central header", CentralHeaderBytes(),
       [](const uint8_t* p, size_t n) {
         CentralHeader r;
         if (!DecodeCentralHeader(p, n, r)) return false;
         EXPECT_EQ(r.Signature, 0x02014b50u);
         EXPECT_EQ(r.VersionMadeBy, 0x0102);
         EXPECT_EQ(r.VersionNeeded, 0x0304);
         EXPECT_EQ(r.Flags, 0x0506);
         EXPECT_EQ(r.Method, 0x0708);
         EXPECT_EQ(r.ModTime, 0x090A);
         EXPECT_EQ(r.ModDate, 0x0B0C);
         EXPECT_EQ(r.Crc32, 0x0D0E0F10u);
         EXPECT_EQ(r.CompressedSize, 0x11121314u);
         EXPECT_EQ(r.UncompressedSize, 0x15161718u);
         EXPECT_EQ(r.NameLength, 0x191A);
         EXPECT_EQ(r.ExtraLength, 0x1B1C);
         EXPECT_EQ(r.CommentLength, 0x1D1E);
         EXPECT_EQ(r.DiskNumberStart, 0x1F20);
         EXPECT_EQ(r.InternalAttributes, 0x2122);
         EXPECT_EQ(r.ExternalAttributes, 0x23242526u);
         EXPECT_EQ(r.LocalHeaderOffset, 0x2728292Au);
         return true;
       }},
      {"local header", LocalHeaderBytes(),
       [](const uint8_t* p, size_t n) {
         LocalHeader r;
         if (!DecodeLocalHeader(p, n, r)) return false;
         EXPECT_EQ(r.Signature, 0x04034b50u);
         EXPECT_EQ(r.VersionNeeded, 0x0102);
         EXPECT_EQ(r.Flags, 0x0304);
         EXPECT_EQ(r.Method, 0x0506);
         EXPECT_EQ(r.ModTime, 0x0708);
         EXPECT_EQ(r.ModDate, 0x090A);
         EXPECT_EQ(r.Crc32, 0x0B0C0D0Eu);
         EXPECT_EQ(r.CompressedSize, 0x0F101112u);
         EXPECT_EQ(r.UncompressedSize, 0x13141516u);
         EXPECT_EQ(r.NameLength, 0x1718);
         EXPECT_EQ(r.ExtraLength, 0x191A);
         return true;
       }},
      {"data descriptor", DataDescriptorBytes(),
       [](const uint8_t* p, size_t n) {
         DataDescriptor r;
         if (!DecodeDataDescriptor(p, n, r)) return false;
         EXPECT_EQ(r.Signature, 0x08074b50u);
         EXPECT_EQ(r.Crc32, 0x01020304u);
         EXPECT_EQ(r.CompressedSize, 0x05060708u);
         EXPECT_EQ(r.UncompressedSize, 0x090A0B0Cu);
         return true;
       }},
  };
}

TEST(ZipRecords, EveryFieldDecodesAndEveryShortCutIsRefused) {
  const std::vector<std::pair<const char*, size_t>> expectedSizes = {
      {"end record", 22},     {"Zip64 locator", 20}, {"Zip64 end record", 56},
      {"central header", 46}, {"local header", 30},  {"data descriptor", 16}};
  auto cases = RecordCases();
  ASSERT_EQ(cases.size(), expectedSizes.size());
  for (size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    Bytes& b = cases[k].bytes;
    ASSERT_EQ(b.size(), expectedSizes[k].second);
    // Trailing bytes belong to whatever follows the record and are ignored.
    Bytes longer = b;
    longer.push_back(0xEE);
    EXPECT_TRUE(cases[k].decodeAndCheck(longer.data(), longer.size()));
    for (size_t cut = 0; cut < b.size(); ++cut) {
      // A copy of exactly the shortened length, so a read past it is caught by sanitizers.
      Bytes shortCopy(b.begin(), b.begin() + static_cast<ptrdiff_t>(cut));
      EXPECT_FALSE(cases[k].decodeAndCheck(shortCopy.data(), shortCopy.size())) << "cut at " << cut;
    }
  }
}

TEST(ExtraArea, BlocksSplitInOrderAndOverlongLastBlockIsCut) {
  struct Case {
    const char* name;
    Bytes area;
    std::vector<std::pair<uint16_t, Bytes>> expected;
  };
  auto block = [](uint16_t tag, uint16_t size, Bytes data) {
    Bytes b;
    PutU16(b, tag);
    PutU16(b, size);
    test::PutBytes(b, data);
    return b;
  };
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const auto& p : parts) test::PutBytes(b, p);
    return b;
  };
  const std::vector<Case> cases = {
      {"empty area", {}, {}},
      {"two blocks",
       cat({block(0x000A, 2, {1, 2}), block(0x7875, 0, {})}),
       {{0x000A, {1, 2}}, {0x7875, {}}}},
      {"size past the end is cut", block(0x5455, 9, {7, 8, 9}), {{0x5455, {7, 8, 9}}}},
      {"fewer than four bytes left end the area",
       cat({block(0x0001, 1, {5}), Bytes{0xAA, 0xBB, 0xCC}}),
       {{0x0001, {5}}}},
      {"only a partial header", Bytes{0x01, 0x00, 0x04}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto blocks = SplitExtraArea(c.area.data(), c.area.size());
    ASSERT_EQ(blocks.size(), c.expected.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].Tag, c.expected[i].first);
      EXPECT_EQ(blocks[i].Data, c.expected[i].second);
      EXPECT_EQ(blocks[i].Size, blocks[i].Data.size());
    }
  }
}

TEST(Zip64Extra, ValuesFollowTheMarkedFieldsAndIncompleteValuesAreLeftOut) {
  struct Case {
    const char* name;
    bool uncompressed, compressed, offset, disk;
    Bytes data;
    std::optional<uint64_t> u, c, o;
    std::optional<uint16_t> d;
  };
  auto values = [](std::initializer_list<uint64_t> v, std::optional<uint32_t> disk = {}) {
    Bytes b;
    for (auto x : v) PutU64(b, x);
    if (disk) PutU32(b, *disk);
    return b;
  };
  const std::vector<Case> cases = {
      {"all four", true, true, true, true,
       values({0x100000000ull, 0x200000000ull, 0x300000000ull}, 0x00050007), 0x100000000ull,
       0x200000000ull, 0x300000000ull, uint16_t{7}},
      {"only the offset marked takes the first value",
       false,
       false,
       true,
       false,
       values({42}),
       {},
       {},
       42u,
       {}},
      {"compressed only", false, true, false, false, values({9, 10}), {}, 9u, {}, {}},
      {"nothing marked reads nothing",
       false,
       false,
       false,
       false,
       values({1, 2, 3}),
       {},
       {},
       {},
       {}},
      {"block too short for the second value",
       true,
       true,
       false,
       false,
       [] {
         Bytes b;
         PutU64(b, 5);
         PutU32(b, 6);
         return b;
       }(),
       5u,
       {},
       {},
       {}},
      {"disk number from two bytes",
       false,
       false,
       false,
       true,
       Bytes{0x03, 0x00},
       {},
       {},
       {},
       uint16_t{3}},
      {"one byte is no disk number", false, false, false, true, Bytes{0x03}, {}, {}, {}, {}},
      {"empty block", true, true, true, true, {}, {}, {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CentralHeader h;
    h.UncompressedSize = c.uncompressed ? 0xFFFFFFFF : 10;
    h.CompressedSize = c.compressed ? 0xFFFFFFFF : 10;
    h.LocalHeaderOffset = c.offset ? 0xFFFFFFFF : 10;
    h.DiskNumberStart = c.disk ? 0xFFFF : 0;
    const auto info = DecodeZip64Extra(c.data.data(), c.data.size(), h);
    EXPECT_EQ(info.UncompressedSize, c.u);
    EXPECT_EQ(info.CompressedSize, c.c);
    EXPECT_EQ(info.LocalHeaderOffset, c.o);
    EXPECT_EQ(info.DiskNumberStart, c.d);
  }
}

TEST(UnicodeNameBlock, AcceptsOnlySignedBlocksWhoseCountFits) {
  auto data = [](uint32_t signature, uint32_t count, std::u16string_view units) {
    Bytes b;
    PutU32(b, signature);
    PutU32(b, count);
    for (char16_t u : units) PutU16(b, u);
    return b;
  };
  struct Case {
    const char* name;
    Bytes bytes;
    bool ok;
    std::u16string expected;
  };
  const std::u16string cyr = u"\u041F\u0440\u0438\u0432\u0435\u0442.txt";
  const std::vector<Case> cases = {
      {"valid", data(0x5843554E, static_cast<uint32_t>(cyr.size()), cyr), true, cyr},
      {"empty name", data(0x5843554E, 0, u""), true, u""},
      {"count below the data takes the count", data(0x5843554E, 2, u"abcd"), true, u"ab"},
      {"other signature", data(0x5843554F, 3, u"abc"), false, u""},
      {"count larger than the data", data(0x5843554E, 4, u"abc"), false, u""},
      {"count that would be negative", data(0x5843554E, 0xFFFFFFFF, u"abc"), false, u""},
      {"odd byte short of the last unit",
       [] {
         Bytes b;
         PutU32(b, 0x5843554E);
         PutU32(b, 1);
         PutU8(b, 'a');
         return b;
       }(),
       false, u""},
      {"no count", Bytes{0x4E, 0x55, 0x43, 0x58}, false, u""},
      {"no signature", Bytes{0x4E, 0x55}, false, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TUnicodeExtendedInfo info;
    info.Name = u"unchanged";
    EXPECT_EQ(info.LoadFromBytes(c.bytes.data(), c.bytes.size()), c.ok);
    EXPECT_EQ(info.Name, c.ok ? c.expected : u"unchanged");
  }
}

TEST(AesExtra, SevenBytesDecodeAndShorterBlocksAreIgnored) {
  Bytes b;
  PutU16(b, 2);
  test::PutBytes(b, "AE");
  PutU8(b, 3);
  PutU16(b, 8);
  AesExtraField f;
  ASSERT_TRUE(DecodeAesExtra(b.data(), b.size(), f));
  EXPECT_EQ(f.VendorVersion, 2);
  EXPECT_EQ(f.VendorId, 0x4541);  // "AE"
  EXPECT_EQ(f.Strength, 3);
  EXPECT_EQ(f.Method, 8);
  for (size_t cut = 0; cut < b.size(); ++cut) {
    Bytes shortCopy(b.begin(), b.begin() + static_cast<ptrdiff_t>(cut));
    AesExtraField g;
    EXPECT_FALSE(DecodeAesExtra(shortCopy.data(), shortCopy.size(), g)) << cut;
  }
}

}  // namespace
}  // namespace lumen
