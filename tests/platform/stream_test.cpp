// Streams: exact reads, growth, positions past the end, files.
#include "platform/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/exceptions.h"

namespace lumen {
namespace {

TEST(MemoryStream, WritesGrowAndReadsComeBack) {
  TMemoryStream s;
  std::vector<uint8_t> data(200000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  for (size_t off = 0; off < data.size(); off += 1000) s.WriteBuffer(data.data() + off, 1000);
  EXPECT_EQ(s.Size(), 200000);
  EXPECT_EQ(s.Position(), 200000);
  s.SetPosition(0);
  std::vector<uint8_t> back(data.size());
  s.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
  EXPECT_EQ(back, data);
}

TEST(MemoryStream, ShortExactReadRaisesStreamReadError) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[4];
  try {
    s.ReadBuffer(buf, 3);
    FAIL() << "expected EReadError";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  s.SetPosition(10);
  EXPECT_EQ(s.Read(buf, 1), 0);
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), Exception);
}

TEST(MemoryStream, WriteAfterEndZeroFillsTheGap) {
  TMemoryStream s;
  s.SetPosition(4);
  s.WriteBuffer("z", 1);
  ASSERT_EQ(s.Size(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 5), std::string("\0\0\0\0z", 5));
}

// Filling the room WriteSpace gives and committing part of it is a Write of those bytes: the
// gap before a position past the end reads as zeros, and only committed bytes count.
TEST(MemoryStream, InPlaceWriteActsAsWrite) {
  TMemoryStream s;
  s.WriteBuffer("ab", 2);
  s.SetPosition(5);
  uint8_t* room = s.WriteSpace(100000);
  std::memcpy(room, "xyz!", 4);
  EXPECT_EQ(s.Size(), 2);
  s.CommitWrite(3);
  EXPECT_EQ(s.Size(), 8);
  EXPECT_EQ(s.Position(), 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 8),
            std::string("ab\0\0\0xyz", 8));
  s.SetPosition(1);
  std::memcpy(s.WriteSpace(1), "B", 1);
  s.CommitWrite(1);
  EXPECT_EQ(s.Size(), 8);
  EXPECT_EQ(s.Memory()[1], 'B');
  s.SetPosition(8);
  s.WriteSpace(4);
  EXPECT_THROW(s.CommitWrite(int64_t{1} << 40), EWriteError);
  EXPECT_EQ(s.Size(), 8);
}

TEST(FileStream, MissingFileNamesTheFileAndReason) {
  const std::string path = "/nonexistent-dir-for-test/file.bin";
  try {
    TFileStream f(path, TFileMode::fmOpenRead);
    FAIL() << "expected EFOpenError";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find(path), std::string::npos);
    EXPECT_NE(e.Message().find("No such file"), std::string::npos);
  }
}

TEST(FileStream, SaveAndLoadRoundTrip) {
  const std::string path = testing::TempDir() + "stream_roundtrip.bin";
  // Empty, small, and large enough to be held in huge pages where the system offers them.
  for (const size_t size : {size_t{0}, size_t{5}, (size_t{5} << 20) + 3}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
    TMemoryStream out;
    out.WriteBuffer(bytes.data(), static_cast<int64_t>(size));
    out.SaveToFile(path);
    // Loading replaces whatever the stream held, longer content included, and rewinds it.
    TMemoryStream in;
    const std::vector<uint8_t> old(size + 100, 0xEE);
    in.WriteBuffer(old.data(), static_cast<int64_t>(old.size()));
    in.LoadFromFile(path);
    ASSERT_EQ(in.Size(), static_cast<int64_t>(size));
    EXPECT_EQ(in.Position(), 0);
    EXPECT_TRUE(size == 0 || std::memcmp(in.Memory(), bytes.data(), size) == 0);
  }
  std::remove(path.c_str());
}

TEST(DiscardStream, KeepsOnlyTheSizeItsWritesMake) {
  TDiscardStream s;
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Size(), 6);
  s.Seek(2, TSeekOrigin::soBeginning);
  s.WriteBuffer("xy", 2);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Position(), 4);
  s.Seek(4, TSeekOrigin::soEnd);
  s.WriteBuffer("z", 1);
  EXPECT_EQ(s.Size(), 11);
  char byte = 0;
  EXPECT_EQ(s.Read(&byte, 1), 0);
  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_THROW(s.Seek(-4, TSeekOrigin::soCurrent), Exception);
  s.Seek(std::numeric_limits<int64_t>::max() - 1, TSeekOrigin::soBeginning);
  EXPECT_THROW(s.WriteBuffer("ab", 2), EWriteError);
}

}  // namespace
}  // namespace lumen
