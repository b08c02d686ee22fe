// Digest of streams: whole content from the first byte, read in 4096-byte pieces, position
// kept also when a read fails, 64-bit positions, and no heap use by the digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "digest/md5.h"
#include "md5_test_support.h"
#include "platform/exceptions.h"
#include "platform/stream.h"

namespace lumen {
namespace {

using testing_md5::PatternBytes;
using testing_md5::ProbeStream;
using testing_md5::ReferenceDigest;

void Fill(TMemoryStream& s, const std::string& bytes) {
  s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

TEST(DigestStream, ReadCountsFollowTheSizeInPiecesOf4096) {
  struct Case {
    size_t size;
    int reads;  // a stream that ends exactly on a piece needs no extra empty read
  };
  const Case cases[] = {{0, 1}, {1, 1}, {4095, 1}, {4096, 1}, {4097, 2}, {8192, 2}, {10000, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string bytes = PatternBytes(c.size, 11);
    TMemoryStream memory;
    Fill(memory, bytes);
    ProbeStream probe(memory);
    EXPECT_EQ(DigestStream(probe), ReferenceDigest(bytes.data(), bytes.size()));
    EXPECT_EQ(probe.reads, c.reads);
  }
}

TEST(DigestStream, ShortReadsDoNotEndTheDigestEarly) {
  const std::string bytes = PatternBytes(20000, 5);
  TMemoryStream memory;
  Fill(memory, bytes);
  ProbeStream probe(memory);
  probe.maxRead = 1000;
  EXPECT_EQ(DigestStream(probe), ReferenceDigest(bytes.data(), bytes.size()));
  EXPECT_EQ(probe.reads, 20);
}

TEST(DigestStream, WholeContentFromAnyPositionAndPositionKept) {
  const std::string bytes = PatternBytes(9000, 9);
  const DigestValue whole = ReferenceDigest(bytes.data(), bytes.size());
  for (int64_t position : {int64_t{0}, int64_t{1}, int64_t{4500}, int64_t{9000}, int64_t{12345}}) {
    SCOPED_TRACE(position);
    TMemoryStream memory;
    Fill(memory, bytes);
    memory.SetPosition(position);
    EXPECT_EQ(DigestStream(memory), whole);
    EXPECT_EQ(memory.Position(), position);
  }
}

TEST(DigestStream, FailedReadPropagatesAndPositionIsRestored) {
  const std::string bytes = PatternBytes(12000, 13);
  for (int failOnRead : {1, 2, 3}) {
    SCOPED_TRACE(failOnRead);
    TMemoryStream memory;
    Fill(memory, bytes);
    memory.SetPosition(777);
    ProbeStream probe(memory);
    probe.failOnRead = failOnRead;
    EXPECT_THROW(DigestStream(probe), EReadError);
    EXPECT_EQ(memory.Position(), 777);
  }
}

// A stream larger than 4 GiB that holds no memory: reads yield zeros, or fail when asked to.
class VirtualStream : public TStream {
 public:
  explicit VirtualStream(int64_t size) : size_(size) {}
  bool failReads = false;

  int64_t Read(void* buffer, int64_t count) override {
    if (failReads) throw EReadError();
    const int64_t n = std::max<int64_t>(0, std::min(count, size_ - position_));
    std::memset(buffer, 0, static_cast<size_t>(n));
    position_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? position_
                                                            : size_;
    if (base + offset < 0) throw Exception("Stream seek error");
    position_ = base + offset;
    return position_;
  }
  void SetSize(int64_t newSize) override { size_ = newSize; }
  int64_t Size() override { return size_; }

 private:
  int64_t size_;
  int64_t position_ = 0;
};

TEST(DigestStream, PositionBeyond4GiBIsRestoredExactly) {
  // A 32-bit position would come back as 3.
  constexpr int64_t kGiB = int64_t{1} << 30;
  VirtualStream stream(6 * kGiB);
  stream.SetPosition(4 * kGiB + 3);
  stream.failReads = true;
  EXPECT_THROW(DigestStream(stream), EReadError);
  EXPECT_EQ(stream.Position(), 4 * kGiB + 3);
}

// Heap accounting for this test binary: counts allocations while a scope asks for it.
thread_local bool countingAllocations = false;
thread_local int allocations = 0;

}  // namespace
}  // namespace lumen

void* operator new(std::size_t size) {
  if (lumen::countingAllocations) ++lumen::allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace lumen {
namespace {

TEST(DigestStream, DigestUsesNoHeap) {
  const std::string bytes = PatternBytes(10000, 17);
  TMemoryStream memory;
  Fill(memory, bytes);
  DigestContext context;

  countingAllocations = true;
  allocations = 0;
  const DigestValue fromStream = DigestStream(memory);
  const DigestValue fromBytes = DigestBytes(bytes.data(), bytes.size());
  const DigestValue fromText = DigestText(bytes);
  MD5Init(context);
  MD5Update(context, bytes.data(), bytes.size());
  const DigestValue fromContext = MD5Final(context);
  countingAllocations = false;

  EXPECT_EQ(allocations, 0);
  const DigestValue expected = ReferenceDigest(bytes.data(), bytes.size());
  EXPECT_EQ(fromStream, expected);
  EXPECT_EQ(fromBytes, expected);
  EXPECT_EQ(fromText, expected);
  EXPECT_EQ(fromContext, expected);
}

TEST(DigestStream, HeapAccountingSeesAllocations) {
  // Guards the test above against an allocator replacement that never counts.
  countingAllocations = true;
  allocations = 0;
  const std::string text = DigestToHex(DigestText("x")) + std::string(100, 'y');
  countingAllocations = false;
  EXPECT_GE(allocations, 1);
  EXPECT_EQ(text.size(), 132u);
}

}  // namespace
}  // namespace lumen
