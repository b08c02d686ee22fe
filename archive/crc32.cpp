// CRC-32 two ways: carry-less multiplication folding 64 bytes per step where the processor has
// it (x86-64 PCLMULQDQ, chosen at run time), so that checking an extracted entry costs a small
// fraction of inflating it; elsewhere zlib's braided CRC for large blocks, and slicing-by-8 through
// eight tables built at compile time for short ones and single cipher steps.
#include "archive/crc32.h"

#include <zlib.h>

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUMEN_CRC32_CLMUL 1
#endif

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

namespace {

uint32_t Crc32UpdateTables(uint32_t crc, const uint8_t* p, size_t n) noexcept {
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

#ifdef LUMEN_CRC32_CLMUL

// Folding keeps four 128-bit lanes whose CRC equals that of the data consumed so far (the
// running register is XORed into the first four bytes, after which the register is zero); each
// step multiplies a lane by x^512 mod P, or by x^128 mod P when lanes merge, and adds the next
// data. The constants are those powers of x for the reflected polynomial, as the lanes are
// reflected too. The last lane is reduced by running its 16 bytes through the tables.
constexpr int64_t kFold512Low = 0x154442bd4;
constexpr int64_t kFold512High = 0x1c6e41596;
constexpr int64_t kFold128Low = 0x1751997d0;
constexpr int64_t kFold128High = 0x0ccaa009e;
constexpr size_t kClmulMinimum = 64;

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) uint32_t Crc32UpdateClmul(uint32_t crc, const uint8_t* p,
                                                                 size_t n) noexcept {
  auto load = [](const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16);
  __m128i x2 = load(p + 32);
  __m128i x3 = load(p + 48);
  p += 64;
  n -= 64;
  const __m128i k512 = _mm_set_epi64x(kFold512High, kFold512Low);
  while (n >= 64) {
    x0 = Fold(x0, k512, load(p));
    x1 = Fold(x1, k512, load(p + 16));
    x2 = Fold(x2, k512, load(p + 32));
    x3 = Fold(x3, k512, load(p + 48));
    p += 64;
    n -= 64;
  }
  const __m128i k128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i x = Fold(x0, k128, x1);
  x = Fold(x, k128, x2);
  x = Fold(x, k128, x3);
  while (n >= 16) {
    x = Fold(x, k128, load(p));
    p += 16;
    n -= 16;
  }
  alignas(16) uint8_t lane[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lane), x);
  return Crc32UpdateTables(Crc32UpdateTables(0, lane, sizeof lane), p, n);
}

bool HasClmul() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  }();
  return has;
}

#endif

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* p, size_t n) noexcept {
#ifdef LUMEN_CRC32_CLMUL
  if (n >= kClmulMinimum && HasClmul()) return Crc32UpdateClmul(crc, p, n);
#endif
  // Without carry-less multiplication, large blocks go through zlib's braided CRC, about three
  // times the tables' speed; zlib takes and returns the complemented register.
  if (n >= kZlibThreshold) return ~static_cast<uint32_t>(crc32_z(~crc & 0xFFFFFFFFu, p, n));
  return Crc32UpdateTables(crc, p, n);
}

uint32_t Crc32Of(const uint8_t* p, size_t n) noexcept {
  return ~Crc32Update(kCrc32Initial, p, n);
}

}  // namespace lumen
