// MD5 over bytes and texts: the RFC 1321 suite, padding boundaries and split input against
// OpenSSL, the hex text forms, and the context's life cycle.
#include "digest/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "md5_test_support.h"

namespace lumen {
namespace {

using testing_md5::PatternBytes;
using testing_md5::ReferenceDigest;

std::string Hex(const DigestValue& d) {
  return DigestToHex(d);
}

TEST(Md5, Rfc1321TestSuite) {
  struct Case {
    const char* text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Hex(DigestText(c.text)), c.digest);
    EXPECT_EQ(Hex(DigestBytes(c.text, std::strlen(c.text))), c.digest);
  }
}

TEST(Md5, TextWithNulAndHighBytesUsesItsOwnLength) {
  // Bytes after a NUL count, and bytes >= 0x80 are not sign-extended anywhere.
  const std::string text("\xC0\xEF\x00\xFF tail", 9);
  EXPECT_EQ(DigestText(text), ReferenceDigest(text.data(), text.size()));
  EXPECT_NE(DigestText(text), DigestText(std::string("\xC0\xEF", 2)));
}

TEST(Md5, LengthsAroundThePaddingBoundariesMatchOpenSsl) {
  // 55/56 decide whether the length still fits into the last block; 63/64/65 cross a block.
  const size_t lengths[] = {0,   1,   55,  56,  57,  63,  64,   65,   119,  120,
                            127, 128, 129, 191, 577, 999, 4095, 4096, 4097, 100003};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    const std::string data = PatternBytes(length, static_cast<uint32_t>(length));
    EXPECT_EQ(DigestBytes(data.data(), data.size()), ReferenceDigest(data.data(), data.size()));
  }
}

TEST(Md5, InputSplitIntoUpdatesOfAnySizeGivesTheSameDigest) {
  const std::string data = PatternBytes(5000, 7);
  const DigestValue expected = ReferenceDigest(data.data(), data.size());
  // Piece sizes that land on, before and after block edges, and pieces of 0 bytes in between.
  const std::vector<size_t> pieceSizes[] = {
      {1}, {3, 0, 61}, {63}, {64}, {65}, {55, 9}, {128, 1}, {4095}, {200, 0, 17, 1000}};
  for (const auto& sizes : pieceSizes) {
    DigestContext context;
    MD5Init(context);
    size_t done = 0;
    for (size_t k = 0; done < data.size(); ++k) {
      const size_t n = std::min(sizes[k % sizes.size()], data.size() - done);
      MD5Update(context, data.data() + done, n);
      done += n;
    }
    EXPECT_EQ(MD5Final(context), expected) << "first piece size " << sizes.front();
  }
}

TEST(Md5, TransformIsTheBareCompressionFunction) {
  // One block compressed from the start values gives the digest of a 55-byte message once the
  // block is padded by hand; this pins MD5Transform apart from the buffering around it.
  const std::string message = PatternBytes(55, 3);
  uint8_t block[64] = {};
  std::memcpy(block, message.data(), message.size());
  block[55] = 0x80;
  block[56] = (55 * 8) & 0xFF;  // bit length 440, little-endian
  block[57] = (55 * 8) >> 8;
  DigestContext context;
  MD5Init(context);
  MD5Transform(context.state, block);
  DigestValue fromTransform;
  for (int w = 0; w < 4; ++w) {
    for (int b = 0; b < 4; ++b)
      fromTransform[4 * w + b] = static_cast<uint8_t>(context.state[w] >> (8 * b));
  }
  EXPECT_EQ(fromTransform, ReferenceDigest(message.data(), message.size()));
}

TEST(Md5, InitStartsCleanAndFinalClearsTheContext) {
  DigestContext context;
  std::memset(&context, 0xA5, sizeof context);
  MD5Init(context);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 0u);
  EXPECT_EQ(context.state[0], 0x67452301u);
  EXPECT_EQ(context.state[3], 0x10325476u);
  MD5Update(context, "abc", 3);
  EXPECT_EQ(context.count[0], 24u);
  EXPECT_EQ(Hex(MD5Final(context)), "900150983CD24FB0D6963F7D28E17F72");

  DigestContext zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
}

TEST(Md5, BitCountCarriesIntoTheHighWord) {
  // 2^29 bytes are 2^32 bits: the low word wraps and the high word must take the carry.
  DigestContext context;
  MD5Init(context);
  std::vector<uint8_t> chunk(1 << 20, 0x5A);
  for (int i = 0; i < 512; ++i) MD5Update(context, chunk.data(), chunk.size());
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
  MD5Update(context, chunk.data(), 3);
  EXPECT_EQ(context.count[0], 24u);
  EXPECT_EQ(context.count[1], 1u);

  testing_md5::ReferenceMd5 reference;
  for (int i = 0; i < 512; ++i) reference.Update(chunk.data(), chunk.size());
  reference.Update(chunk.data(), 3);
  EXPECT_EQ(MD5Final(context), reference.Final());
}

TEST(Md5Hex, TwoUpperCaseDigitsPerByteWithLeadingZeros) {
  DigestValue d{};
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 17);  // 00 11 .. FF
  EXPECT_EQ(DigestToHex(d), "00112233445566778899AABBCCDDEEFF");
  d.fill(0x0A);
  EXPECT_EQ(DigestToHex(d), "0A0A0A0A0A0A0A0A0A0A0A0A0A0A0A0A");
}

TEST(Md5Hex, GetMd5IsLowerCaseAndKeepsLeadingZero) {
  struct Case {
    const char* text;
    const char* lower;
  };
  // Both digests start with a byte below 16.
  const Case cases[] = {
      {"27", "02e74f10e0327ad868d138f2b4fdd6f0"},
      {"lumen37", "00d24772799b8f76e38069f2f0c46a49"},
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string got = GetMD5(c.text);
    EXPECT_EQ(got.size(), 32u);
    EXPECT_EQ(got, c.lower);
  }
}

}  // namespace
}  // namespace lumen
