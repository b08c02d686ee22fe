// An output held in a plain memory stream is written in place and the archive read where it lies;
// every other stream goes through buffers. Both ways must give the same bytes and the same verdict,
// also for the bytes that may follow an entry's deflate data, which the inflate stream takes as
// an Adler-32 trailer once four of them are there.
#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <ostream>
#include <random>
#include <string>

#include "archive/zip_archiver.h"
#include "tests/archive/archiver_harness.h"
#include "tests/support/zip_builder.h"

namespace lumen {
namespace {

using test::Bytes;
using test::ZipBuilder;

constexpr size_t kChunk = 1 << 20;

// A memory stream of another class takes the buffered way.
class BufferedMemoryStream : public TMemoryStream {};

Bytes RawDeflate(const std::string& content, int level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, content.size()) + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Random content whose deflate data (stored blocks) is exactly `size` bytes, so that what follows
// it can be placed at a chunk boundary.
std::string ContentDeflatingTo(size_t size, Bytes& deflated) {
  std::mt19937 rng(static_cast<uint32_t>(size));
  std::string all(size, '\0');
  for (char& c : all) c = static_cast<char>(rng());
  // Stored blocks add a few bytes each, so the content is a little shorter than its deflate data.
  for (size_t n = size - 1; n + 200 > size; --n) {
    deflated = RawDeflate(all.substr(0, n), 0);
    if (deflated.size() == size) return all.substr(0, n);
  }
  ADD_FAILURE() << "no content deflates to " << size << " bytes";
  return {};
}

Bytes BigEndian(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

struct Outcome {
  std::optional<int32_t> nativeError;
  Bytes output;
};

template <typename Output>
Outcome ExtractInto(const Bytes& archiveBytes, bool corruptedAllowed) {
  test::OpenArchive archive(archiveBytes);
  archive.archiver().SetExtractCorruptedFiles(corruptedAllowed);
  Output out;
  Outcome outcome;
  try {
    archive.archiver().ExtractEntryTo(u"entry.bin", out);
  } catch (const EZAException& e) {
    outcome.nativeError = e.NativeError();
  }
  outcome.output = test::StreamBytes(out);
  return outcome;
}

enum class After { kNothing, kThreeBytes, kAdler, kOtherFourBytes };

struct TrailerCase {
  const char* label;
  size_t deflatedSize;
  After after;
  bool intact;
};

void PrintTo(const TrailerCase& c, std::ostream* os) {
  *os << c.label;
}

class EntryOutputWays : public ::testing::TestWithParam<TrailerCase> {};

TEST_P(EntryOutputWays, GiveTheSameBytesAndVerdict) {
  const TrailerCase& c = GetParam();
  Bytes deflated;
  const std::string content = ContentDeflatingTo(c.deflatedSize, deflated);
  ASSERT_EQ(deflated.size(), c.deflatedSize);
  const uint32_t adler = static_cast<uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(content.data()),
              static_cast<uInt>(content.size())));
  Bytes after;
  switch (c.after) {
    case After::kNothing:
      break;
    case After::kThreeBytes:
      after = {1, 2, 3};
      break;
    case After::kAdler:
      after = BigEndian(adler);
      break;
    case After::kOtherFourBytes:
      after = BigEndian(adler ^ 0x00010000);
      break;
  }
  ZipBuilder zb;
  test::ZipEntry& e = zb.AddDeflated("entry.bin", content);
  e.data = deflated;
  e.data.insert(e.data.end(), after.begin(), after.end());
  e.compressedSize = static_cast<uint32_t>(e.data.size());
  const Bytes archive = zb.Build().bytes;

  for (bool corruptedAllowed : {false, true}) {
    const Outcome inPlace = ExtractInto<TMemoryStream>(archive, corruptedAllowed);
    const Outcome buffered = ExtractInto<BufferedMemoryStream>(archive, corruptedAllowed);
    EXPECT_EQ(inPlace.nativeError, buffered.nativeError) << corruptedAllowed;
    EXPECT_EQ(inPlace.output, buffered.output) << corruptedAllowed;
    if (c.intact || corruptedAllowed) {
      EXPECT_EQ(inPlace.nativeError, std::nullopt) << corruptedAllowed;
    } else {
      EXPECT_EQ(inPlace.nativeError, 8);
    }
    if (c.intact) {
      EXPECT_EQ(inPlace.output, Bytes(content.begin(), content.end()));
    }
  }
}

// Deflate data ending inside the first chunk, with the four following bytes split 2 + 2 between
// the first two chunks, and wholly in the second.
const TrailerCase kTrailerCases[] = {
    {"SmallNothingAfter", 5000, After::kNothing, true},
    {"SmallThreeBytesAfter", 5000, After::kThreeBytes, true},
    {"SmallAdlerAfter", 5000, After::kAdler, true},
    {"SmallOtherBytesAfter", 5000, After::kOtherFourBytes, false},
    {"SplitAdlerAfter", kChunk - 2, After::kAdler, true},
    {"SplitOtherBytesAfter", kChunk - 2, After::kOtherFourBytes, false},
    {"NextChunkAdlerAfter", kChunk, After::kAdler, true},
    {"NextChunkOtherBytesAfter", kChunk, After::kOtherFourBytes, false},
    {"LaterChunkOtherBytesAfter", 2 * kChunk + 1, After::kOtherFourBytes, false},
};

INSTANTIATE_TEST_SUITE_P(Table, EntryOutputWays, ::testing::ValuesIn(kTrailerCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Entries larger than the in-place stretch (all but the last buffer's worth) and ones that lie
// about their size come out alike both ways.
TEST(EntryOutputWays, LargeAndMisdeclaredEntriesAlike) {
  std::string content;
  for (size_t i = 0; content.size() < 2 * kChunk + 12345; ++i)
    content += std::to_string(i * 7919) + ' ';
  for (int64_t declaredDelta : {int64_t{0}, int64_t{-1}, int64_t{1}, -int64_t{kChunk}}) {
    ZipBuilder zb;
    zb.AddDeflated("entry.bin", content).uncompressedSize =
        static_cast<uint32_t>(static_cast<int64_t>(content.size()) + declaredDelta);
    const Bytes archive = zb.Build().bytes;
    for (bool corruptedAllowed : {false, true}) {
      const Outcome inPlace = ExtractInto<TMemoryStream>(archive, corruptedAllowed);
      const Outcome buffered = ExtractInto<BufferedMemoryStream>(archive, corruptedAllowed);
      EXPECT_EQ(inPlace.nativeError, buffered.nativeError) << declaredDelta;
      EXPECT_EQ(inPlace.output, buffered.output) << declaredDelta;
      if (declaredDelta == 0) {
        EXPECT_EQ(inPlace.output, Bytes(content.begin(), content.end()));
      }
      if (declaredDelta < 0) {
        EXPECT_EQ(static_cast<int64_t>(inPlace.output.size()),
                  static_cast<int64_t>(content.size()) + declaredDelta);
      }
    }
  }
}

}  // namespace
}  // namespace lumen
