// CRC-32 three ways: carry-less multiplication folding 256 bytes per step in 512-bit registers
// (VPCLMULQDQ) or 64 bytes in 128-bit ones (PCLMULQDQ), whichever the x86-64 processor has,
// chosen at run time, so that checking an extracted entry costs a small fraction of inflating
// it; elsewhere zlib's braided CRC for large blocks, and slicing-by-8 through eight tables built
// at compile time for short pieces and single cipher steps.
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
//
// A fold over a distance of d bits multiplies the low half of a lane by x^(d+32) mod P and the high
// half by x^(d-32) mod P, both bit-reflected and shifted left by one.
constexpr int64_t FoldConstant(int exponent) {
  uint64_t r = 1;  // x^0, in normal bit order
  for (int i = 0; i < exponent; ++i) {
    r <<= 1;
    if ((r >> 32) & 1) r ^= 0x104C11DB7;
  }
  uint64_t reflected = 0;
  for (int i = 0; i < 32; ++i) reflected |= ((r >> i) & 1) << (31 - i);
  return static_cast<int64_t>(reflected << 1);
}

constexpr int64_t kFold512Low = FoldConstant(512 + 32);
constexpr int64_t kFold512High = FoldConstant(512 - 32);
constexpr int64_t kFold128Low = FoldConstant(128 + 32);
constexpr int64_t kFold128High = FoldConstant(128 - 32);
constexpr int64_t kFold2048Low = FoldConstant(2048 + 32);
constexpr int64_t kFold2048High = FoldConstant(2048 - 32);
static_assert(kFold512Low == 0x154442bd4 && kFold512High == 0x1c6e41596);
static_assert(kFold128Low == 0x1751997d0 && kFold128High == 0x0ccaa009e);
constexpr size_t kClmulMinimum = 64;
// Below this the wide registers' set-up does not pay.
constexpr size_t kWideClmulMinimum = 1024;

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

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i WideFold(__m512i lane, __m512i k,
                                                                      __m512i next) {
  const __m512i low = _mm512_clmulepi64_epi128(lane, k, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(lane, k, 0x11);
  return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // low ^ high ^ next
}

__attribute__((target("avx512f"))) inline __m512i WideLoad(const uint8_t* at) {
  return _mm512_loadu_si512(at);
}

// Four 512-bit registers, each four lanes of 128 bits, fold 256 bytes per step; they merge into
// one register of 64 bytes whose CRC the 128-bit path then takes over.
__attribute__((target("avx512f,vpclmulqdq,pclmul,sse2"))) uint32_t Crc32UpdateWide(
    uint32_t crc, const uint8_t* p, size_t n) noexcept {
  const __m512i first =
      _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(static_cast<int>(crc)), 0);
  __m512i x0 = _mm512_xor_si512(WideLoad(p), first);
  __m512i x1 = WideLoad(p + 64);
  __m512i x2 = WideLoad(p + 128);
  __m512i x3 = WideLoad(p + 192);
  p += 256;
  n -= 256;
  const __m512i k2048 = _mm512_set_epi64(kFold2048High, kFold2048Low, kFold2048High, kFold2048Low,
                                         kFold2048High, kFold2048Low, kFold2048High, kFold2048Low);
  while (n >= 256) {
    x0 = WideFold(x0, k2048, WideLoad(p));
    x1 = WideFold(x1, k2048, WideLoad(p + 64));
    x2 = WideFold(x2, k2048, WideLoad(p + 128));
    x3 = WideFold(x3, k2048, WideLoad(p + 192));
    p += 256;
    n -= 256;
  }
  const __m512i k512 = _mm512_set_epi64(kFold512High, kFold512Low, kFold512High, kFold512Low,
                                        kFold512High, kFold512Low, kFold512High, kFold512Low);
  __m512i x = WideFold(x0, k512, x1);
  x = WideFold(x, k512, x2);
  x = WideFold(x, k512, x3);
  while (n >= 64) {
    x = WideFold(x, k512, WideLoad(p));
    p += 64;
    n -= 64;
  }
  alignas(64) uint8_t lanes[64];
  _mm512_store_si512(lanes, x);
  crc = Crc32UpdateClmul(0, lanes, sizeof lanes);
  return n >= kClmulMinimum ? Crc32UpdateClmul(crc, p, n) : Crc32UpdateTables(crc, p, n);
}

bool HasWideClmul() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq") &&
           __builtin_cpu_supports("pclmul");
  }();
  return has;
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
  if (n >= kWideClmulMinimum && HasWideClmul()) return Crc32UpdateWide(crc, p, n);
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
