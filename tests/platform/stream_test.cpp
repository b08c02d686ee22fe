// Streams: exact reads, growth, positions past the end, files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/stream.h"

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
  TMemoryStream out;
  out.WriteBuffer("hello", 5);
  out.SaveToFile(path);
  TMemoryStream in;
  in.LoadFromFile(path);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.Memory()), in.Size()), "hello");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace lumen
