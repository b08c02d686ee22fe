// CRC-32: zlib's braided implementation for large blocks, and slicing-by-8 (eight bytes per step
// through eight derived tables, built at compile time) for short ones and single cipher steps, so
// that checking an extracted entry costs far less than inflating it.
#include "archive/crc32.h"

#include <zlib.h>

#include <array>

namespace lumen {

namespace {

using Table = std::array<std::array<uint32_t, 256>, 8>;

constexpr Table BuildTables() {
  Table t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  // t[k][i] is the register after byte i followed by k zero bytes.
  for (uint32_t i = 0; i < 256; ++i) {
    for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr Table kTables = BuildTables();

constexpr size_t kZlibThreshold = 256;

}  // namespace

uint32_t Crc32Byte(uint32_t crc, uint8_t b) noexcept {
  return kTables[0][(crc ^ b) & 0xFF] ^ (crc >> 8);
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* p, size_t n) noexcept {
  // Large blocks (extraction checks whole inflate buffers) go through zlib's braided CRC, which
  // runs about three times faster than eight tables here; zlib takes and returns the
  // complemented register.
  if (n >= kZlibThreshold) {
    return ~static_cast<uint32_t>(crc32_z(~crc & 0xFFFFFFFFu, p, n));
  }
  // Bytes are assembled explicitly rather than loaded as words, so alignment and host byte order
  // play no part; compilers turn the shifts into one load.
  while (n >= 8) {
    const uint32_t lo =
        crc ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
    const uint32_t hi = static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
                        static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24;
    crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
          kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
          kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) crc = Crc32Byte(crc, *p++);
  return crc;
}

uint32_t Crc32Of(const uint8_t* p, size_t n) noexcept {
  return ~Crc32Update(kCrc32Initial, p, n);
}

}  // namespace lumen
