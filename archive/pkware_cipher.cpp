// Traditional PKWARE cipher. The key update is a CRC-32 step per byte, so it keeps its own small
// table rather than going through the whole-buffer CRC routine.
#include "archive/pkware_cipher.h"

#include <array>

namespace lumen {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

constexpr uint32_t CrcByte(uint32_t crc, uint8_t b) {
  return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// Keys live in locals inside the loops below so that the compiler can keep them in registers;
// the cipher is inherently one byte at a time.
struct Keys {
  uint32_t k0, k1, k2;

  void Update(uint8_t plain) {
    k0 = CrcByte(k0, plain);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcByte(k2, static_cast<uint8_t>(k1 >> 24));
  }

  uint8_t StreamByte() const {
    const uint32_t t = (k2 | 2) & 0xFFFF;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
};

}  // namespace

uint8_t PkwareCheckByte(uint16_t localFlags, uint16_t localModTime, uint32_t localCrc32) {
  if (localFlags & 0x0008) return static_cast<uint8_t>(localModTime >> 8);
  return static_cast<uint8_t>(localCrc32 >> 24);
}

void TPkwareCipher::Init(std::string_view password) {
  Keys keys{0x12345678u, 0x23456789u, 0x34567890u};
  for (char c : password) keys.Update(static_cast<uint8_t>(c));
  key0_ = keys.k0;
  key1_ = keys.k1;
  key2_ = keys.k2;
}

bool TPkwareCipher::DecryptHeader(uint8_t* header, uint8_t checkByte) {
  Decrypt(header, kPkwareHeaderSize);
  return header[kPkwareHeaderSize - 1] == checkByte;
}

void TPkwareCipher::Decrypt(uint8_t* data, size_t count) {
  Keys keys{key0_, key1_, key2_};
  for (size_t i = 0; i < count; ++i) {
    const uint8_t plain = data[i] ^ keys.StreamByte();
    data[i] = plain;
    keys.Update(plain);
  }
  key0_ = keys.k0;
  key1_ = keys.k1;
  key2_ = keys.k2;
}

}  // namespace lumen
