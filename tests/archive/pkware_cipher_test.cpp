// The traditional PKWARE cipher against an independent bitwise reference and against archives
// written by Info-ZIP zip and 7-Zip.
#include "archive/pkware_cipher.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "encrypted_corpus.h"
#include "tests/support/reference_md5.h"

namespace lumen {
namespace {

// Encryption side written from the published description with a table-free CRC step, so that a
// wrong table or a wrong key update in the cipher cannot cancel itself out.
class ReferenceEncryptor {
 public:
  explicit ReferenceEncryptor(const std::string& password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }
  std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out;
    for (uint8_t p : plain) {
      const uint32_t t = (k2_ | 2) & 0xFFFF;
      out.push_back(static_cast<uint8_t>(p ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8)));
      Update(p);
    }
    return out;
  }

 private:
  static uint32_t CrcStep(uint32_t crc, uint8_t b) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  void Update(uint8_t p) {
    k0_ = CrcStep(k0_, p);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = CrcStep(k2_, static_cast<uint8_t>(k1_ >> 24));
  }
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return v;
}

TEST(PkwareCipher, DecryptsWhatTheReferenceEncrypts) {
  // Passwords with high-bit ANSI bytes (Cyrillic in Windows-1251) and the empty password too.
  for (const std::string password :
       {"secret", "", "\xEF\xE0\xF0\xEE\xEB\xFC", "a much longer pass phrase"}) {
    SCOPED_TRACE(password);
    std::vector<uint8_t> plain = Pattern(kPkwareHeaderSize - 1, 7);
    plain.push_back(0xA5);  // check byte
    const std::vector<uint8_t> body = Pattern(70000, 11);
    plain.insert(plain.end(), body.begin(), body.end());
    std::vector<uint8_t> data = ReferenceEncryptor(password).Encrypt(plain);
    ASSERT_NE(data, plain);

    TPkwareCipher cipher(password);
    EXPECT_TRUE(cipher.DecryptHeader(data.data(), 0xA5));
    // Uneven pieces: the key stream must carry across calls.
    size_t at = kPkwareHeaderSize;
    for (size_t piece : {1u, 15u, 4096u, 65535u}) {
      const size_t n = std::min(piece, data.size() - at);
      cipher.Decrypt(data.data() + at, n);
      at += n;
    }
    cipher.Decrypt(data.data() + at, data.size() - at);
    EXPECT_EQ(data, plain);
  }
}

TEST(PkwareCipher, HeaderCheckRejectsWrongPasswordAndWrongCheckByte) {
  std::vector<uint8_t> plain = Pattern(kPkwareHeaderSize, 3);
  plain.back() = 0x5C;
  const std::vector<uint8_t> encrypted = ReferenceEncryptor("secret").Encrypt(plain);

  for (const std::string wrong : {"Secret", "secret ", "secre", ""}) {
    SCOPED_TRACE(wrong);
    std::vector<uint8_t> header = encrypted;
    EXPECT_FALSE(TPkwareCipher(wrong).DecryptHeader(header.data(), 0x5C));
  }
  std::vector<uint8_t> header = encrypted;
  EXPECT_FALSE(TPkwareCipher("secret").DecryptHeader(header.data(), 0x5D));
  EXPECT_EQ(header, plain);  // decrypted all the same, only the verdict differs
}

TEST(PkwareCipher, InitStartsOverFromTheFixedKeys) {
  TPkwareCipher cipher("first");
  std::vector<uint8_t> scratch(100);
  cipher.Decrypt(scratch.data(), scratch.size());
  cipher.Init("secret");
  const TPkwareCipher fresh("secret");
  EXPECT_EQ(cipher.Key0(), fresh.Key0());
  EXPECT_EQ(cipher.Key1(), fresh.Key1());
  EXPECT_EQ(cipher.Key2(), fresh.Key2());
  const TPkwareCipher empty("");
  EXPECT_EQ(empty.Key0(), 0x12345678u);
  EXPECT_EQ(empty.Key1(), 0x23456789u);
  EXPECT_EQ(empty.Key2(), 0x34567890u);
}

TEST(PkwareCipher, CheckByteComesFromTimeOnlyWithDataDescriptor) {
  struct Case {
    uint16_t flags;
    uint16_t time;
    uint32_t crc;
    uint8_t expected;
  };
  for (const Case& c :
       {Case{0x0001, 0x7A3B, 0x503B91C4, 0x50}, Case{0x0009, 0x7A3B, 0x503B91C4, 0x7A},
        Case{0x0809, 0x0100, 0, 0x01}, Case{0x0801, 0xFFFF, 0xED6F7A7A, 0xED}}) {
    EXPECT_EQ(PkwareCheckByte(c.flags, c.time, c.crc), c.expected) << std::hex << c.flags;
  }
}

struct CorpusCase {
  const char* archive;
  const char* entry;
  const char* md5;
};

// Test names and failure messages show the case by its archive and entry; the default would print
// the pointers' bytes, which change from run to run.
void PrintTo(const CorpusCase& c, std::ostream* os) {
  *os << c.archive << " : " << c.entry;
}

class PkwareCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(PkwareCorpus, SecretOpensTheEntryAndOtherPasswordsDoNot) {
  const CorpusCase& c = GetParam();
  const testing::RawArchive archive = testing::LoadCorpusArchive(c.archive);
  const testing::RawEntry& e = archive.Entry(c.entry);
  ASSERT_TRUE(e.flags & 1);
  const uint8_t check = PkwareCheckByte(e.localFlags, e.localModTime, e.localCrc32);

  std::vector<uint8_t> data = archive.Data(e);
  ASSERT_GE(data.size(), kPkwareHeaderSize);
  {
    std::vector<uint8_t> header(data.begin(), data.begin() + kPkwareHeaderSize);
    EXPECT_FALSE(TPkwareCipher("Secret").DecryptHeader(header.data(), check));
  }
  TPkwareCipher cipher("secret");
  ASSERT_TRUE(cipher.DecryptHeader(data.data(), check));
  cipher.Decrypt(data.data() + kPkwareHeaderSize, data.size() - kPkwareHeaderSize);
  std::vector<uint8_t> content(data.begin() + kPkwareHeaderSize, data.end());
  if (e.method == 8) content = testing::InflateRaw(content.data(), content.size());
  ASSERT_EQ(content.size(), e.uncompressedSize);
  EXPECT_EQ(crc32(0, content.data(), static_cast<uInt>(content.size())), e.crc32);
  EXPECT_EQ(test::ReferenceMd5Hex(content), c.md5);
}

constexpr const char* kReadmeMd5 = "9660e1a4359541593ec3036341630bce";
constexpr const char* kRandomMd5 = "e9828d7943b18d17e3274b96abf245d4";
constexpr const char* kTinyMd5 = "764efa883dda1e11db47671c4a3bbd9e";
constexpr const char* kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

INSTANTIATE_TEST_SUITE_P(
    InfoZipAnd7Zip, PkwareCorpus,
    ::testing::Values(CorpusCase{"generated/izip-zipcrypto.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/izip-zipcrypto.zip", "random.bin", kRandomMd5},
                      CorpusCase{"generated/izip-zipcrypto.zip", "empty.txt", kEmptyMd5},
                      CorpusCase{"generated/izip-zipcrypto.zip", "tiny.txt", kTinyMd5},
                      CorpusCase{"generated/izip-zipcrypto-stored.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/izip-zipcrypto-streamed-dd.zip", "readme.txt",
                                 kReadmeMd5},
                      CorpusCase{"generated/izip-zipcrypto-streamed-dd.zip", "tiny.txt", kTinyMd5},
                      CorpusCase{"generated/7z-zipcrypto.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/7z-zipcrypto.zip", "tiny.txt", kTinyMd5},
                      CorpusCase{"generated/7z-zipcrypto.zip", "empty.txt", kEmptyMd5}),
    [](const ::testing::TestParamInfo<CorpusCase>& info) {
      std::string name = std::string(info.param.archive) + "_" + info.param.entry;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace lumen
