// CRC-32: both paths agree with zlib for every length and alignment, and pieces chain.
#include "archive/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace lumen {
namespace {

uint32_t ZlibCrc(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32_z(crc32(0L, Z_NULL, 0), p, n));
}

TEST(Crc32, KnownValues) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32Of(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(Crc32Of(nullptr, 0), 0u);
}

TEST(Crc32, MatchesZlibOverRandomBuffersOfEveryLengthAndAlignment) {
  std::mt19937 rng(20261211);
  std::vector<uint8_t> buf(70000 + 16);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 80; ++n) lengths.push_back(n);
  // Lengths around the 64-byte folding step, with 16-byte steps and a few bytes left after it.
  // The same around the 256-byte step of the wide registers.
  for (size_t n : {100u, 117u, 127u, 128u, 129u, 191u, 250u, 1023u, 1024u, 1107u, 1279u, 1343u,
                   2047u, 4096u, 4097u, 65535u, 70000u}) {
    lengths.push_back(n);
  }
  for (size_t align = 0; align < 16; ++align) {
    for (size_t n : lengths) {
      const uint8_t* p = buf.data() + align;
      ASSERT_EQ(Crc32Of(p, n), ZlibCrc(p, n)) << "length " << n << " offset " << align;
    }
  }
}

TEST(Crc32, PiecesChainOnTheRunningRegister) {
  std::mt19937 rng(7);
  std::vector<uint8_t> buf(10007);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  const uint32_t whole = ZlibCrc(buf.data(), buf.size());
  for (size_t split : {0u, 1u, 7u, 8u, 9u, 4096u, 10006u, 10007u}) {
    uint32_t c = kCrc32Initial;
    c = Crc32Update(c, buf.data(), split);
    c = Crc32Update(c, buf.data() + split, buf.size() - split);
    EXPECT_EQ(~c, whole) << split;
  }
  uint32_t c = kCrc32Initial;
  for (uint8_t b : buf) c = Crc32Byte(c, b);
  EXPECT_EQ(~c, whole);
}

}  // namespace
}  // namespace lumen
