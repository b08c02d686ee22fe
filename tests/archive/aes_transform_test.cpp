// WinZip AES decryption: the key derivation against published vectors, and the whole transform
// against archives written by 7-Zip and bsdtar (AE-1 and AE-2, all three key lengths).
#include "archive/aes_transform.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "encrypted_corpus.h"
#include "platform/exceptions.h"
#include "platform/stream.h"
#include "tests/support/reference_md5.h"

namespace lumen {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

TEST(Pbkdf2HmacSha1, MatchesRfc6070Vectors) {
  struct Vector {
    std::string password;
    std::string salt;
    int iterations;
    size_t length;
    const char* hex;
  };
  const Vector vectors[] = {
      {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16,
       "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.password + " / " + std::to_string(v.iterations));
    EXPECT_EQ(Hex(Pbkdf2HmacSha1(v.password, Bytes(v.salt), v.iterations, v.length)), v.hex);
  }
}

TEST(AesTransform, SizesFollowTheKeyLength) {
  struct Case {
    int strength;
    int bits;
    size_t salt;
  };
  for (const Case& c : {Case{1, 128, 8}, Case{2, 192, 12}, Case{3, 256, 16}}) {
    ASSERT_EQ(AesKeyBitsForStrength(c.strength), c.bits);
    const TAESCryptoTransform t(c.bits, "secret");
    EXPECT_EQ(t.SaltSize(), c.salt);
    EXPECT_EQ(t.Overhead(), c.salt + 2 + 10);
  }
  for (int strength : {0, 4, -1}) EXPECT_EQ(AesKeyBitsForStrength(strength), 0);
  for (int bits : {0, 64, 129, 512}) {
    EXPECT_THROW(TAESCryptoTransform(bits, "secret"), std::invalid_argument);
  }
}

TEST(AesTransform, RefusesMisuse) {
  TAESCryptoTransform t(128, "secret");
  uint8_t data[4] = {};
  EXPECT_THROW(t.DecryptInPlace(data, sizeof data), std::logic_error);
  const std::vector<uint8_t> shortSalt(7), verifier(2);
  EXPECT_THROW(t.SetHeader(shortSalt, verifier), std::invalid_argument);

  TMemoryStream truncated;  // salt and only one verifier byte
  truncated.WriteBuffer(std::vector<uint8_t>(9).data(), 9);
  truncated.SetPosition(0);
  EXPECT_THROW(t.ReadHeader(truncated), EReadError);
}

// Each corpus entry: the key length comes from its AES extra block, the inner method too.
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

std::string CaseName(const ::testing::TestParamInfo<CorpusCase>& info) {
  std::string name = std::string(info.param.archive) + "_" + info.param.entry;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

class AesCorpus : public ::testing::TestWithParam<CorpusCase> {
 protected:
  void SetUp() override {
    archive_ = testing::LoadCorpusArchive(GetParam().archive);
    entry_ = archive_.Entry(GetParam().entry);
    ASSERT_EQ(entry_.method, 99);
    bits_ = AesKeyBitsForStrength(entry_.aesStrength);
    ASSERT_NE(bits_, 0);
    data_ = archive_.Data(entry_);
    const size_t overhead = TAESCryptoTransform(bits_, "").Overhead();
    ASSERT_GE(data_.size(), overhead);
    saltSize_ = overhead - 12;
  }

  std::span<const uint8_t> Salt() const { return std::span(data_).first(saltSize_); }
  std::span<const uint8_t> Verifier() const { return std::span(data_).subspan(saltSize_, 2); }
  std::vector<uint8_t> Ciphertext() const {
    return {data_.begin() + static_cast<std::ptrdiff_t>(saltSize_ + 2), data_.end() - 10};
  }
  std::span<const uint8_t> StoredCode() const { return std::span(data_).last(10); }

  // Inflates when needed and checks the content against the manifest's digest (and against the
  // stored CRC-32 for AE-1, the only version that keeps one).
  void ExpectContent(const std::vector<uint8_t>& plain) const {
    std::vector<uint8_t> content = plain;
    if (entry_.aesMethod == 8) content = testing::InflateRaw(plain.data(), plain.size());
    EXPECT_EQ(content.size(), entry_.uncompressedSize);
    EXPECT_EQ(test::ReferenceMd5Hex(content), GetParam().md5);
    if (entry_.aesVersion == 1) {
      EXPECT_EQ(crc32(0, content.data(), static_cast<uInt>(content.size())), entry_.crc32);
    }
  }

  testing::RawArchive archive_;
  testing::RawEntry entry_;
  int bits_ = 0;
  std::vector<uint8_t> data_;
  size_t saltSize_ = 0;
};

TEST_P(AesCorpus, WrongPasswordThenRightOneDecryptsAndAuthenticates) {
  TAESCryptoTransform t(bits_, "Secret");
  EXPECT_FALSE(t.SetHeader(Salt(), Verifier()));
  t.SetPassword("");
  EXPECT_FALSE(t.PasswordVerified());
  t.SetPassword("secret");  // the retry after asking the user again
  ASSERT_TRUE(t.PasswordVerified());
  EXPECT_EQ(t.Password(), "secret");

  std::vector<uint8_t> buffer = Ciphertext();
  // Uneven pieces, so that the key stream must carry across calls and batches.
  size_t at = 0;
  for (size_t piece : {1u, 15u, 17u, 4095u, 4097u}) {
    const size_t n = std::min(piece, buffer.size() - at);
    t.DecryptInPlace(buffer.data() + at, n);
    at += n;
  }
  t.DecryptInPlace(buffer.data() + at, buffer.size() - at);
  EXPECT_TRUE(t.CheckAuthCode(StoredCode()));
  ExpectContent(buffer);
}

TEST_P(AesCorpus, ReadsHeaderAndCodeFromTheArchiveStream) {
  TMemoryStream stream;
  stream.WriteBuffer(archive_.bytes.data(), static_cast<int64_t>(archive_.bytes.size()));
  stream.SetPosition(static_cast<int64_t>(entry_.dataOffset));

  TAESCryptoTransform t(bits_, "secret");
  ASSERT_TRUE(t.ReadHeader(stream));
  std::vector<uint8_t> buffer(Ciphertext().size());
  stream.ReadBuffer(buffer.data(), static_cast<int64_t>(buffer.size()));
  t.DecryptInPlace(buffer.data(), buffer.size());
  EXPECT_TRUE(t.ReadAndCheckAuthCode(stream));
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(entry_.dataOffset + entry_.compressedSize));
  ExpectContent(buffer);
}

TEST_P(AesCorpus, DamageFailsTheAuthenticationCode) {
  const std::vector<uint8_t> ciphertext = Ciphertext();
  if (!ciphertext.empty()) {
    for (size_t where : {size_t{0}, ciphertext.size() / 2, ciphertext.size() - 1}) {
      SCOPED_TRACE(where);
      TAESCryptoTransform t(bits_, "secret");
      ASSERT_TRUE(t.SetHeader(Salt(), Verifier()));
      std::vector<uint8_t> buffer = ciphertext;
      buffer[where] ^= 0x01;
      t.DecryptInPlace(buffer.data(), buffer.size());
      EXPECT_FALSE(t.CheckAuthCode(StoredCode()));
    }
  }
  TAESCryptoTransform t(bits_, "secret");
  ASSERT_TRUE(t.SetHeader(Salt(), Verifier()));
  std::vector<uint8_t> buffer = ciphertext;
  t.DecryptInPlace(buffer.data(), buffer.size());
  std::vector<uint8_t> code(StoredCode().begin(), StoredCode().end());
  code[9] ^= 0x80;
  EXPECT_FALSE(t.CheckAuthCode(code));
  EXPECT_FALSE(t.CheckAuthCode(StoredCode().first(9)));
  EXPECT_TRUE(t.CheckAuthCode(StoredCode()));
}

TEST_P(AesCorpus, NewHeaderStartsTheDataPassOver) {
  TAESCryptoTransform t(bits_, "secret");
  ASSERT_TRUE(t.SetHeader(Salt(), Verifier()));
  std::vector<uint8_t> junk(100, 0x42);
  t.DecryptInPlace(junk.data(), junk.size());
  ASSERT_TRUE(t.SetHeader(Salt(), Verifier()));  // as after rewinding for another attempt
  std::vector<uint8_t> buffer = Ciphertext();
  t.DecryptInPlace(buffer.data(), buffer.size());
  EXPECT_TRUE(t.CheckAuthCode(StoredCode()));
  ExpectContent(buffer);
}

constexpr const char* kReadmeMd5 = "9660e1a4359541593ec3036341630bce";
constexpr const char* kRandomMd5 = "e9828d7943b18d17e3274b96abf245d4";
constexpr const char* kTinyMd5 = "764efa883dda1e11db47671c4a3bbd9e";
constexpr const char* kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

INSTANTIATE_TEST_SUITE_P(
    SevenZipAndBsdtar, AesCorpus,
    ::testing::Values(CorpusCase{"generated/7z-aes128-stored.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/7z-aes128-stored.zip", "tiny.txt", kTinyMd5},
                      CorpusCase{"generated/7z-aes192-deflate.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/7z-aes192-deflate.zip", "tiny.txt", kTinyMd5},
                      CorpusCase{"generated/7z-aes256-deflate.zip", "random.bin", kRandomMd5},
                      CorpusCase{"generated/7z-aes256-deflate.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/7z-aes256-deflate.zip", "empty.txt", kEmptyMd5},
                      CorpusCase{"generated/bsdtar-aes128.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/bsdtar-aes256.zip", "readme.txt", kReadmeMd5},
                      CorpusCase{"generated/bsdtar-aes256.zip", "tiny.txt", kTinyMd5}),
    CaseName);

}  // namespace
}  // namespace lumen
