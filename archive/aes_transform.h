// Decryption of WinZip AES entries (AE-1 and AE-2): key derivation from the password and the
// entry's salt, the password verifier, AES in counter mode and the HMAC-SHA1 authentication code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace lumen {

// A decrypting transform for the data of one encrypted entry, owned by the code that decodes the
// entry. The password is 8-bit text in the ANSI code page, used byte for byte.
class TZACryptoTransform {
 public:
  explicit TZACryptoTransform(std::string password) : password_(std::move(password)) {}
  TZACryptoTransform(const TZACryptoTransform&) = delete;
  TZACryptoTransform& operator=(const TZACryptoTransform&) = delete;
  virtual ~TZACryptoTransform();

  // Decrypts count bytes in place, continuing where the previous call stopped.
  virtual void DecryptInPlace(uint8_t* data, size_t count) = 0;

  const std::string& Password() const noexcept { return password_; }
  virtual void SetPassword(std::string password);

 protected:
  std::string password_;
};

// PBKDF2 with HMAC-SHA1 (the derivation AES entries use with 1,000 iterations).
std::vector<uint8_t> Pbkdf2HmacSha1(const std::string& password, std::span<const uint8_t> salt,
                                    int iterations, size_t length);

// Key length in bits for the strength byte of the AES extra field (1, 2, 3); 0 for other values.
int AesKeyBitsForStrength(int strength) noexcept;

// Usage: construct with the key length and the password, hand over the salt and verifier
// (SetHeader or ReadHeader), retry with SetPassword while PasswordVerified() is false, then pass
// the encrypted data through DecryptInPlace in order, and finally check the stored code.
// OpenSSL failures raise Exception; misuse (a bad key length, decrypting before the header)
// raises std::invalid_argument / std::logic_error.
class TAESCryptoTransform final : public TZACryptoTransform {
 public:
  static constexpr size_t kVerifierSize = 2;
  static constexpr size_t kAuthCodeSize = 10;
  static constexpr int kIterations = 1000;

  // keyBits: 128, 192 or 256.
  TAESCryptoTransform(int keyBits, std::string password);
  ~TAESCryptoTransform() override;

  int KeyBits() const noexcept { return keyBits_; }
  // Salt bytes in front of the verifier: half the key length (8, 12 or 16).
  size_t SaltSize() const noexcept { return static_cast<size_t>(keyBits_) / 16; }
  // Bytes an entry stores beyond its encrypted data: salt, verifier and authentication code.
  size_t Overhead() const noexcept { return SaltSize() + kVerifierSize + kAuthCodeSize; }

  // Takes the entry's salt and stored verifier, derives the keys from the current password and
  // starts a new pass over the data. Returns PasswordVerified(). Wrong sizes raise
  // std::invalid_argument.
  bool SetHeader(std::span<const uint8_t> salt, std::span<const uint8_t> verifier);
  // Reads salt and verifier from the stream's position (EReadError when it is short).
  bool ReadHeader(TStream& stream);

  // A new password is derived against the header already given, and the pass starts over.
  void SetPassword(std::string password) override;
  // The derived verifier equals the stored one. Two bytes only: a match is very likely, not
  // certain, to mean the right password; the authentication code settles it.
  bool PasswordVerified() const noexcept { return verified_; }

  // Feeds the ciphertext to the authentication code, then decrypts it.
  void DecryptInPlace(uint8_t* data, size_t count) override;

  // The code over all ciphertext passed so far; the pass may continue afterwards.
  std::array<uint8_t, kAuthCodeSize> AuthCode() const;
  bool CheckAuthCode(std::span<const uint8_t> storedCode) const;
  // Reads the stored code from the stream's position (EReadError when it is short).
  bool ReadAndCheckAuthCode(TStream& stream) const;

 private:
  struct State;
  void Derive();
  void RefillKeyStream();

  int keyBits_;
  std::vector<uint8_t> salt_;
  std::array<uint8_t, kVerifierSize> storedVerifier_{};
  bool haveHeader_ = false;
  bool verified_ = false;
  std::unique_ptr<State> state_;
};

}  // namespace lumen
