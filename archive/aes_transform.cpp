// WinZip AES through OpenSSL libcrypto. OpenSSL's own counter mode counts big-endian, while the
// format counts little-endian, so the key stream is made by encrypting counter blocks with AES-ECB,
// a batch at a time so that large chunks cost few library calls.
#include "archive/aes_transform.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <stdexcept>

#include "platform/exceptions.h"

namespace lumen {

namespace {

struct CipherCtxDeleter {
  void operator()(EVP_CIPHER_CTX* p) const noexcept { EVP_CIPHER_CTX_free(p); }
};
struct MacDeleter {
  void operator()(EVP_MAC* p) const noexcept { EVP_MAC_free(p); }
};
struct MacCtxDeleter {
  void operator()(EVP_MAC_CTX* p) const noexcept { EVP_MAC_CTX_free(p); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;
using MacPtr = std::unique_ptr<EVP_MAC, MacDeleter>;
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, MacCtxDeleter>;

constexpr size_t kBlockSize = 16;
constexpr size_t kBatchBlocks = 256;
constexpr size_t kSha1Size = 20;

[[noreturn]] void Fail(const char* what) {
  throw Exception(std::string("AES decryption: ") + what + " failed");
}

const EVP_CIPHER* EcbCipher(int keyBits) {
  switch (keyBits) {
    case 128:
      return EVP_aes_128_ecb();
    case 192:
      return EVP_aes_192_ecb();
    default:
      return EVP_aes_256_ecb();
  }
}

}  // namespace

TZACryptoTransform::~TZACryptoTransform() {
  OPENSSL_cleanse(password_.data(), password_.size());
}

void TZACryptoTransform::SetPassword(std::string password) {
  OPENSSL_cleanse(password_.data(), password_.size());
  password_ = std::move(password);
}

std::vector<uint8_t> Pbkdf2HmacSha1(const std::string& password, std::span<const uint8_t> salt,
                                    int iterations, size_t length) {
  std::vector<uint8_t> out(length);
  if (password.size() > INT32_MAX || salt.size() > INT32_MAX || length > INT32_MAX) {
    throw std::invalid_argument("PBKDF2 input too long");
  }
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, static_cast<int>(length),
                             out.data()) != 1) {
    Fail("key derivation");
  }
  return out;
}

int AesKeyBitsForStrength(int strength) noexcept {
  switch (strength) {
    case 1:
      return 128;
    case 2:
      return 192;
    case 3:
      return 256;
    default:
      return 0;
  }
}

// Everything that depends on the derived keys; rebuilt by each derivation.
struct TAESCryptoTransform::State {
  CipherCtxPtr cipher;
  MacPtr mac;
  MacCtxPtr macCtx;
  std::array<uint8_t, kBlockSize> counter{};  // little-endian block number of the next batch
  std::array<uint8_t, kBatchBlocks * kBlockSize> counterBlocks{};
  std::array<uint8_t, kBatchBlocks * kBlockSize> keyStream{};
  size_t keyStreamPos = 0;  // keyStream is used up when this equals its size
};

TAESCryptoTransform::TAESCryptoTransform(int keyBits, std::string password)
    : TZACryptoTransform(std::move(password)), keyBits_(keyBits) {
  if (keyBits != 128 && keyBits != 192 && keyBits != 256) {
    throw std::invalid_argument("AES key length must be 128, 192 or 256 bits");
  }
}

TAESCryptoTransform::~TAESCryptoTransform() {
  if (state_) {
    OPENSSL_cleanse(state_->keyStream.data(), state_->keyStream.size());
  }
}

bool TAESCryptoTransform::SetHeader(std::span<const uint8_t> salt,
                                    std::span<const uint8_t> verifier) {
  if (salt.size() != SaltSize() || verifier.size() != kVerifierSize) {
    throw std::invalid_argument("AES salt or verifier of the wrong size");
  }
  salt_.assign(salt.begin(), salt.end());
  std::copy(verifier.begin(), verifier.end(), storedVerifier_.begin());
  haveHeader_ = true;
  Derive();
  return verified_;
}

bool TAESCryptoTransform::ReadHeader(TStream& stream) {
  std::vector<uint8_t> bytes(SaltSize() + kVerifierSize);
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return SetHeader(std::span(bytes).first(SaltSize()), std::span(bytes).last(kVerifierSize));
}

void TAESCryptoTransform::SetPassword(std::string password) {
  TZACryptoTransform::SetPassword(std::move(password));
  if (haveHeader_) Derive();
}

void TAESCryptoTransform::Derive() {
  const size_t keyBytes = static_cast<size_t>(keyBits_) / 8;
  std::vector<uint8_t> material =
      Pbkdf2HmacSha1(password_, salt_, kIterations, 2 * keyBytes + kVerifierSize);
  verified_ = std::equal(storedVerifier_.begin(), storedVerifier_.end(),
                         material.begin() + static_cast<std::ptrdiff_t>(2 * keyBytes));

  auto state = std::make_unique<State>();
  state->cipher.reset(EVP_CIPHER_CTX_new());
  if (!state->cipher) Fail("cipher context");
  if (EVP_EncryptInit_ex(state->cipher.get(), EcbCipher(keyBits_), nullptr, material.data(),
                         nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(state->cipher.get(), 0) != 1) {
    OPENSSL_cleanse(material.data(), material.size());
    Fail("cipher set-up");
  }

  state->mac.reset(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr));
  if (state->mac) state->macCtx.reset(EVP_MAC_CTX_new(state->mac.get()));
  if (!state->macCtx) {
    OPENSSL_cleanse(material.data(), material.size());
    Fail("HMAC context");
  }
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  const int macOk = EVP_MAC_init(state->macCtx.get(), material.data() + keyBytes, keyBytes, params);
  OPENSSL_cleanse(material.data(), material.size());
  if (macOk != 1) Fail("HMAC set-up");

  state->counter[0] = 1;  // the first key-stream block is counter 1, not 0
  state->keyStreamPos = state->keyStream.size();
  state_ = std::move(state);
}

void TAESCryptoTransform::RefillKeyStream() {
  State& s = *state_;
  for (size_t b = 0; b < kBatchBlocks; ++b) {
    std::copy(s.counter.begin(), s.counter.end(), s.counterBlocks.begin() + b * kBlockSize);
    for (uint8_t& byte : s.counter) {
      if (++byte != 0) break;
    }
  }
  int produced = 0;
  if (EVP_EncryptUpdate(s.cipher.get(), s.keyStream.data(), &produced, s.counterBlocks.data(),
                        static_cast<int>(s.counterBlocks.size())) != 1 ||
      produced != static_cast<int>(s.keyStream.size())) {
    Fail("AES block encryption");
  }
  s.keyStreamPos = 0;
}

void TAESCryptoTransform::DecryptInPlace(uint8_t* data, size_t count) {
  if (!state_) throw std::logic_error("AES data decrypted before its salt was given");
  State& s = *state_;
  if (count == 0) return;
  if (EVP_MAC_update(s.macCtx.get(), data, count) != 1) Fail("HMAC update");
  while (count > 0) {
    if (s.keyStreamPos == s.keyStream.size()) RefillKeyStream();
    const size_t n = std::min(count, s.keyStream.size() - s.keyStreamPos);
    const uint8_t* key = s.keyStream.data() + s.keyStreamPos;
    for (size_t i = 0; i < n; ++i) data[i] ^= key[i];
    data += n;
    count -= n;
    s.keyStreamPos += n;
  }
}

std::array<uint8_t, TAESCryptoTransform::kAuthCodeSize> TAESCryptoTransform::AuthCode() const {
  if (!state_) throw std::logic_error("AES code asked for before the salt was given");
  // Finishing a copy leaves the running code untouched for further data.
  MacCtxPtr copy(EVP_MAC_CTX_dup(state_->macCtx.get()));
  if (!copy) Fail("HMAC copy");
  std::array<uint8_t, kSha1Size> full{};
  size_t length = 0;
  if (EVP_MAC_final(copy.get(), full.data(), &length, full.size()) != 1 || length != kSha1Size) {
    Fail("HMAC final");
  }
  std::array<uint8_t, kAuthCodeSize> code{};
  std::copy_n(full.begin(), kAuthCodeSize, code.begin());
  return code;
}

bool TAESCryptoTransform::CheckAuthCode(std::span<const uint8_t> storedCode) const {
  if (storedCode.size() != kAuthCodeSize) return false;
  const std::array<uint8_t, kAuthCodeSize> code = AuthCode();
  return CRYPTO_memcmp(code.data(), storedCode.data(), kAuthCodeSize) == 0;
}

bool TAESCryptoTransform::ReadAndCheckAuthCode(TStream& stream) const {
  std::array<uint8_t, kAuthCodeSize> stored{};
  stream.ReadBuffer(stored.data(), static_cast<int64_t>(stored.size()));
  return CheckAuthCode(stored);
}

}  // namespace lumen
