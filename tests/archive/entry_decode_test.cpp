// Decoding entries: stored and deflated data across chunk boundaries, what the directory says
// against what the data holds, damage, unsupported methods, where the output goes, a refusing
// output, cancelling, and an entry that inflates far beyond its declared size.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "tests/archive/archiver_harness.h"
#include "tests/support/zip_builder.h"

namespace lumen {
namespace {

using test::Bytes;
using test::Extraction;
using test::OpenArchive;
using test::StreamBytes;
using test::ZipBuilder;
using test::ZipEntry;
using test::ZipLayout;

std::string RandomText(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Compressible text with enough variety that deflate output is not trivially small.
std::string Prose(size_t size) {
  std::string s;
  for (size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7919 % 10007) + "\n";
  s.resize(size);
  return s;
}

Bytes AsBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

struct RoundTripCase {
  const char* label;
  std::string content;
  bool deflate;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
  *os << c.label;
}

class EntryRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(EntryRoundTrip, DecodesContentExactly) {
  const RoundTripCase& c = GetParam();
  ZipBuilder zb;
  zb.AddStored("first.txt", "before");
  if (c.deflate) {
    zb.AddDeflated("entry.bin", c.content);
  } else {
    zb.AddStored("entry.bin", c.content);
  }
  zb.AddStored("last.txt", "after");
  OpenArchive archive(zb.Build().bytes);
  const Extraction result = archive.Extract(u"entry.bin");
  ASSERT_FALSE(result.nativeError) << result.message;
  EXPECT_EQ(result.output, AsBytes(c.content));
}

// Sizes around the 65,535-byte pieces of stored data and the 1 MiB chunks of compressed input.
const RoundTripCase kRoundTripCases[] = {
    {"StoredEmpty", "", false},
    {"StoredOneByte", "a", false},
    {"StoredOnePiece", RandomText(65535, 1), false},
    {"StoredPieceAndOne", RandomText(65536, 2), false},
    {"StoredSeveralChunks", RandomText((2 << 20) + 12345, 3), false},
    {"DeflateOneByte", "a", true},
    {"DeflateText", Prose(300000), true},
    {"DeflateLargeOutput", Prose(5 << 20), true},
    {"DeflateSeveralInputChunks", RandomText((3 << 20) + 777, 4), true},
};

INSTANTIATE_TEST_SUITE_P(Table, EntryRoundTrip, ::testing::ValuesIn(kRoundTripCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Archives whose records disagree with their data in ways a reader must handle one way or the
// other; each case says whether the entry comes out and with what.
struct LayoutCase {
  const char* label;
  std::function<ZipLayout()> build;
  bool extractCorrupted;
  std::optional<int32_t> nativeError;
  std::string output;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.label;
}

class EntryLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(EntryLayout, ExtractsOrFailsAsTheDataAllows) {
  const LayoutCase& c = GetParam();
  OpenArchive archive(c.build().bytes);
  archive.archiver().SetExtractCorruptedFiles(c.extractCorrupted);
  const Extraction result = archive.Extract(u"entry.txt");
  EXPECT_EQ(result.nativeError, c.nativeError) << result.message;
  EXPECT_EQ(std::string(result.output.begin(), result.output.end()), c.output);
}

const std::string kText = "The quick brown fox jumps over the lazy dog, again and again.";

ZipLayout WithDataDescriptor() {
  ZipBuilder zb;
  zb.AddDeflated("entry.txt", kText).dataDescriptor = true;
  return zb.Build();
}

ZipLayout WithDamagedLocalSignature() {
  ZipBuilder zb;
  zb.AddStored("other.txt", "x");
  zb.AddDeflated("entry.txt", kText);
  ZipLayout z = zb.Build();
  z.bytes[z.localOffsets[1]] = 'Q';
  z.bytes[z.localOffsets[1] + 3] = 0;
  return z;
}

// The last entry's compressed size runs into the central directory; its real data is complete.
ZipLayout WithCompressedSizeIntoDirectory(uint32_t declaredExtra) {
  ZipBuilder zb;
  test::ZipEntry& e = zb.AddStored("entry.txt", kText);
  e.compressedSize += 40;
  e.uncompressedSize += declaredExtra;
  return zb.Build();
}

ZipLayout WithMethod(uint16_t method) {
  ZipBuilder zb;
  test::ZipEntry& e = zb.AddDeflated("entry.txt", kText);
  e.method = method;
  return zb.Build();
}

ZipLayout WithFlippedStoredByte() {
  ZipBuilder zb;
  zb.AddStored("entry.txt", kText);
  ZipLayout z = zb.Build();
  z.bytes[z.localOffsets[0] + 30 + 9 + 4] ^= 0x01;  // 'q' -> 'p'
  return z;
}

ZipLayout WithDeclaredSize(uint32_t size) {
  ZipBuilder zb;
  zb.AddDeflated("entry.txt", kText).uncompressedSize = size;
  return zb.Build();
}

ZipLayout WithWrongCrc() {
  ZipBuilder zb;
  zb.AddDeflated("entry.txt", kText).crc32 ^= 0x80000000;
  return zb.Build();
}

std::string Flipped() {
  std::string s = kText;
  s[4] = 'p';
  return s;
}

const LayoutCase kLayoutCases[] = {
    {"DataDescriptorUsesCentralSizes", WithDataDescriptor, false, std::nullopt, kText},
    {"DamagedLocalSignatureIgnored", WithDamagedLocalSignature, false, std::nullopt, kText},
    {"CompressedSizeClampedAtDirectory", [] { return WithCompressedSizeIntoDirectory(0); }, false,
     std::nullopt, kText},
    {"ClampedDataShorterThanDeclared", [] { return WithCompressedSizeIntoDirectory(40); }, false, 8,
     kText},
    {"Deflate64Refused", [] { return WithMethod(9); }, false, 55, ""},
    {"Deflate64RefusedEvenWhenCorruptedAllowed", [] { return WithMethod(9); }, true, 55, ""},
    {"Bzip2Fails", [] { return WithMethod(12); }, false, 8, ""},
    {"Bzip2SkippedWhenCorruptedAllowed", [] { return WithMethod(12); }, true, std::nullopt, ""},
    {"FlippedStoredByteFailsCrcAndKeepsBytes", WithFlippedStoredByte, false, 8, Flipped()},
    {"FlippedStoredByteKeptWhenCorruptedAllowed", WithFlippedStoredByte, true, std::nullopt,
     Flipped()},
    {"WrongCrc", WithWrongCrc, false, 8, kText},
    {"DeclaredLargerThanData", [] { return WithDeclaredSize(kText.size() + 1); }, false, 8, kText},
    // Output stops at the declared size: the rest would fail the size check anyway.
    {"DeclaredSmallerThanData", [] { return WithDeclaredSize(10); }, false, 8, kText.substr(0, 10)},
};

INSTANTIATE_TEST_SUITE_P(Table, EntryLayout, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(EntryDecode, Deflate64MessageHasNoComponentName) {
  OpenArchive archive(WithMethod(9).bytes);
  EXPECT_EQ(archive.Extract(u"entry.txt").message,
            "Deflate64 compression method is not supported - Native error: 00055");
  EXPECT_EQ(archive.Extract(u"entry.txt").nativeError, 55);
}

TEST(EntryDecode, FlippedDeflateByteFailsWithoutExceedingTheEntry) {
  const std::string content = Prose(200000);
  ZipBuilder zb;
  zb.AddDeflated("entry.txt", content);
  ZipLayout z = zb.Build();
  const size_t data = z.localOffsets[0] + 30 + 9;
  const size_t compressed = z.centralOffset - data;
  for (size_t at : {data + compressed / 4, data + compressed / 2, data + compressed - 3}) {
    Bytes damaged = z.bytes;
    damaged[at] ^= 0x10;
    OpenArchive archive(damaged);
    const Extraction result = archive.Extract(u"entry.txt");
    EXPECT_EQ(result.nativeError, 8) << "byte " << at;
    EXPECT_LE(result.output.size(), content.size());
  }
}

TEST(EntryDecode, LocalHeaderOutsideTheStreamIsAStreamReadError) {
  ZipBuilder zb;
  zb.AddStored("first.txt", "first");
  zb.AddStored("entry.txt", kText).storedOffset = 0x7FFFFFF0;
  OpenArchive archive(zb.Build().bytes);
  TMemoryStream out;
  EXPECT_THROW(archive.archiver().ExtractEntryTo(u"entry.txt", out), EReadError);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_TRUE(archive.archiver().IsOpen());
}

// The output gets room for the declared size up front, but never for more than the entry's data
// can produce: a few bytes claiming gigabytes do not reserve them.
TEST(EntryDecode, ALyingDeclaredSizeReservesOnlyWhatTheDataCanGive) {
  const std::string content = Prose(3000);
  for (const bool deflate : {false, true}) {
    SCOPED_TRACE(deflate ? "deflated" : "stored");
    ZipBuilder zb;
    ZipEntry& e =
        deflate ? zb.AddDeflated("entry.txt", content) : zb.AddStored("entry.txt", content);
    e.uncompressedSize = 0xFFFFFFF0;
    const uint32_t compressedSize = e.compressedSize;
    OpenArchive archive(zb.Build().bytes);
    TMemoryStream out;
    try {
      archive.archiver().ExtractEntryTo(u"entry.txt", out);
      ADD_FAILURE() << "a size mismatch passed";
    } catch (const EZAException& error) {
      EXPECT_EQ(error.NativeError(), 8);
    }
    EXPECT_EQ(out.Size(), static_cast<int64_t>(content.size()));
    EXPECT_LE(
        out.Capacity(),
        std::max<int64_t>(int64_t{compressedSize} * (deflate ? 1032 : 1), int64_t{1} << 16) * 2);
  }
}

TEST(EntryDecode, OutputPositionedInsideAStreamKeepsItsFirstBytes) {
  const std::string content = Prose(5000);
  ZipBuilder zb;
  zb.AddDeflated("entry.txt", content);
  OpenArchive archive(zb.Build().bytes);
  TMemoryStream out;
  const Bytes head(150, 0xAB);
  out.WriteBuffer(head.data(), 150);
  out.SetPosition(100);
  archive.archiver().ExtractEntryTo(u"entry.txt", out);
  EXPECT_EQ(out.Position(), 100 + static_cast<int64_t>(content.size()));
  const Bytes all = StreamBytes(out);
  ASSERT_EQ(all.size(), 100 + content.size());
  EXPECT_EQ(Bytes(all.begin(), all.begin() + 100), Bytes(100, 0xAB));
  EXPECT_EQ(std::string(all.begin() + 100, all.end()), content);
}

TEST(EntryDecode, ArchiveStreamIsLeftAfterTheEntryData) {
  ZipBuilder zb;
  zb.AddStored("entry.txt", kText);
  zb.AddStored("next.txt", "n");
  ZipLayout z = zb.Build();
  OpenArchive archive(z.bytes);
  archive.Extract(u"entry.txt");
  EXPECT_EQ(archive.stream().Position(), static_cast<int64_t>(z.localOffsets[1]));
}

// A refusing output: without a handler the extraction fails with 65 and keeps what was taken;
// a handler may make room (the block is written again from its start) or give up.
TEST(EntryDiskFull, WithoutHandlerRaisesSixtyFiveAndKeepsTheBytesTaken) {
  const std::string content = RandomText(200000, 9);
  ZipBuilder zb;
  zb.AddStored("entry.bin", content);
  OpenArchive archive(zb.Build().bytes);
  test::RefusingStream out(100000);
  try {
    archive.archiver().ExtractEntryTo(u"entry.bin", out);
    FAIL() << "a full output went unnoticed";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError(), 65);
    EXPECT_EQ(e.Message(),
              "Disk is full. There is not enough free space on disk. - Native error: 00065");
  }
  EXPECT_EQ(out.Contents(), AsBytes(content.substr(0, 100000)));
  EXPECT_TRUE(archive.archiver().Options().Recurse());
}

TEST(EntryDiskFull, HandlerThatMakesRoomGetsTheWholeEntry) {
  const std::string content = Prose(3 << 20);
  ZipBuilder zb;
  zb.AddDeflated("entry.txt", content);
  OpenArchive archive(zb.Build().bytes);
  archive.archiver().SetFileName(u"update.zip");
  test::RefusingStream out(500000);
  int calls = 0;
  archive.archiver().OnDiskFull = [&](TZABaseArchiver&, int32_t volume, const std::u16string& name,
                                      bool& cancel) {
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(name, u"update.zip");
    EXPECT_FALSE(cancel);
    // The first call makes no room: the same block is simply offered again.
    if (++calls > 1) out.SetRoom(int64_t{1} << 40);
  };
  archive.archiver().ExtractEntryTo(u"entry.txt", out);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(out.Contents(), AsBytes(content));
}

TEST(EntryDiskFull, HandlerThatCancelsEndsWithoutError) {
  const std::string content = RandomText(200000, 10);
  ZipBuilder zb;
  zb.AddStored("entry.bin", content);
  OpenArchive archive(zb.Build().bytes);
  test::RefusingStream out(70000);
  archive.archiver().OnDiskFull = [](TZABaseArchiver&, int32_t, const std::u16string&,
                                     bool& cancel) { cancel = true; };
  archive.archiver().ExtractEntryTo(u"entry.bin", out);
  EXPECT_EQ(out.Contents(), AsBytes(content.substr(0, 70000)));
}

struct ProgressCall {
  std::string kind;  // "file" or "overall"
  std::u16string name;
  double progress;
  TZAProgressPhase phase;
  bool operator==(const ProgressCall&) const = default;
};

TEST(EntryProgress, ReportsStartEachPieceAndEndWithBackslashNames) {
  const std::string content = RandomText(100000, 11);  // two stored pieces
  ZipBuilder zb;
  zb.AddStored("dir/entry.bin", content);
  OpenArchive archive(zb.Build().bytes);
  std::vector<ProgressCall> calls;
  archive.archiver().OnFileProgress = [&](TZABaseArchiver&, const std::u16string& name,
                                          double progress, TZAProcessOperation,
                                          TZAProgressPhase phase, bool&) {
    calls.push_back({"file", name, progress, phase});
  };
  archive.archiver().OnOverallProgress = [&](TZABaseArchiver&, double progress, TZAProcessOperation,
                                             TZAProgressPhase phase, bool&) {
    calls.push_back({"overall", u"", progress, phase});
  };
  const Extraction result = archive.Extract(u"dir\\entry.bin");
  ASSERT_FALSE(result.nativeError) << result.message;
  const double first = 65535.0 / 100000 * 100;
  const std::vector<ProgressCall> expected = {
      {"overall", u"", 0, ppStart},       {"file", u"dir\\entry.bin", first, ppProcess},
      {"overall", u"", first, ppProcess}, {"file", u"dir\\entry.bin", 100, ppProcess},
      {"overall", u"", 100, ppProcess},   {"file", u"", 100, ppEnd},
      {"overall", u"", 100, ppEnd},
  };
  EXPECT_EQ(calls, expected);
}

TEST(EntryProgress, CancelFromAHandlerStopsWithoutError) {
  const std::string content = Prose(4 << 20);
  for (const bool deflate : {false, true}) {
    ZipBuilder zb;
    if (deflate) {
      zb.AddDeflated("entry.txt", content);
    } else {
      zb.AddStored("entry.txt", content);
    }
    OpenArchive archive(zb.Build().bytes);
    int processCalls = 0;
    archive.archiver().OnFileProgress = [&](TZABaseArchiver&, const std::u16string&, double,
                                            TZAProcessOperation, TZAProgressPhase phase,
                                            bool& cancel) {
      if (phase == ppProcess && ++processCalls == 2) cancel = true;
    };
    const Extraction result = archive.Extract(u"entry.txt");
    EXPECT_FALSE(result.nativeError) << result.message;
    EXPECT_EQ(processCalls, 2) << "decoding went on after the cancel";
    // One piece (stored) or one inflate block (deflate) came out before the cancel.
    EXPECT_EQ(result.output.size(), deflate ? size_t{1} << 20 : 65535u);
    EXPECT_EQ(std::string(result.output.begin(), result.output.end()),
              content.substr(0, result.output.size()));
  }
}

// Raw deflate of `total` zero bytes built from repeated fully flushed blocks, so that a test can
// have a gigabyte's worth of data in about a megabyte without compressing a gigabyte.
Bytes DeflatedZeros(int64_t total) {
  constexpr size_t kBlock = 1 << 20;
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> zeros(kBlock, 0);
  auto flushBlock = [&](int flush, size_t size) {
    Bytes out(deflateBound(&zs, kBlock) + 64);
    zs.next_in = zeros.data();
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, flush);
    out.resize(out.size() - zs.avail_out);
    return out;
  };
  const Bytes first = flushBlock(Z_FULL_FLUSH, kBlock);
  const Bytes second = flushBlock(Z_FULL_FLUSH, kBlock);
  // After a full flush the compressor starts afresh, so every block compresses alike.
  EXPECT_EQ(first, second);
  const Bytes last = flushBlock(Z_FINISH, 0);
  deflateEnd(&zs);
  Bytes data;
  for (int64_t i = 0; i < total / static_cast<int64_t>(kBlock); ++i) {
    data.insert(data.end(), first.begin(), first.end());
  }
  data.insert(data.end(), last.begin(), last.end());
  return data;
}

TEST(EntryDecode, EntryInflatingFarBeyondItsDeclaredSizeStopsAtThatSize) {
  test::ZipEntry e;
  e.name = "entry.bin";
  e.method = 8;
  e.data = DeflatedZeros(int64_t{1} << 30);
  e.compressedSize = static_cast<uint32_t>(e.data.size());
  e.uncompressedSize = 1024;
  e.crc32 = test::ReferenceCrc32(std::string(1024, '\0'));
  ZipBuilder zb;
  zb.Add(e);
  OpenArchive archive(zb.Build().bytes);
  for (const bool corruptedAllowed : {false, true}) {
    archive.archiver().SetExtractCorruptedFiles(corruptedAllowed);
    const Extraction result = archive.Extract(u"entry.bin");
    EXPECT_EQ(result.nativeError, corruptedAllowed ? std::nullopt : std::optional<int32_t>(8));
    EXPECT_EQ(result.output, Bytes(1024, 0));
  }
}

}  // namespace
}  // namespace lumen
