// The traditional PKWARE stream cipher used by "zip -P" style encryption: key set-up from a
// password, the check of the 12-byte encryption header, and in-place decryption of entry data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumen {

// Bytes of the encryption header that precedes the data of every traditionally encrypted entry.
inline constexpr size_t kPkwareHeaderSize = 12;

// The value the last decrypted header byte must have: the high byte of the local header's
// modification time when the entry was written with a data descriptor (flags bit 3), because the
// writer did not know the CRC-32 yet; otherwise the high byte of the local header's CRC-32.
uint8_t PkwareCheckByte(uint16_t localFlags, uint16_t localModTime, uint32_t localCrc32);

// The three cipher keys. A value type: copy it to keep a state, no resources are held.
// The password is taken byte for byte (8-bit text in the ANSI code page), an empty one included.
class TPkwareCipher {
 public:
  explicit TPkwareCipher(std::string_view password) { Init(password); }

  // Starts over from the fixed initial keys and feeds the password.
  void Init(std::string_view password);

  // Decrypts the 12 header bytes in place (advancing the keys, which then stay in force for the
  // data) and tells whether the last one equals checkByte.
  bool DecryptHeader(uint8_t* header, uint8_t checkByte);

  // Decrypts count bytes in place; successive calls continue the same key stream.
  void Decrypt(uint8_t* data, size_t count);

  uint32_t Key0() const noexcept { return key0_; }
  uint32_t Key1() const noexcept { return key1_; }
  uint32_t Key2() const noexcept { return key2_; }

 private:
  uint32_t key0_ = 0;
  uint32_t key1_ = 0;
  uint32_t key2_ = 0;
};

}  // namespace lumen
