// MD5 (RFC 1321) and the digest of bytes, texts, streams and files built on it.
#include "digest/md5.h"

#include <bit>
#include <cstring>

#include "platform/exceptions.h"
#include "platform/stream.h"

namespace lumen {

namespace {

constexpr uint32_t kStartState[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};

constexpr uint8_t kPadding[64] = {0x80};

// Files are read in pieces of this size into a buffer on the stack.
constexpr int64_t kReadPiece = 4096;

inline uint32_t LoadLE32(const uint8_t* p) {
  // Byte-wise on purpose: no alignment or host-order assumption, and compilers turn it into one
  // load on little-endian machines.
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The four rounds. F and I use forms with one operation less than the textbook ones; G is split
// into two disjoint halves that are added separately, so the half that does not depend on the
// previous step's result can be computed while that step is still in flight.
template <int S>
inline void FF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t k) {
  a += (d ^ (b & (c ^ d))) + x + k;
  a = std::rotl(a, S) + b;
}
template <int S>
inline void GG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t k) {
  a += (c & ~d) + x + k;
  a += b & d;
  a = std::rotl(a, S) + b;
}
template <int S>
inline void HH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t k) {
  a += (b ^ c ^ d) + x + k;
  a = std::rotl(a, S) + b;
}
template <int S>
inline void II(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t k) {
  a += (c ^ (b | ~d)) + x + k;
  a = std::rotl(a, S) + b;
}

// Compresses count consecutive 64-byte blocks; the chaining words stay in registers between
// blocks.
void TransformBlocks(uint32_t (&state)[4], const uint8_t* p, size_t count) {
  uint32_t a = state[0];
  uint32_t b = state[1];
  uint32_t c = state[2];
  uint32_t d = state[3];
  for (; count != 0; --count, p += 64) {
    const uint32_t x0 = LoadLE32(p), x1 = LoadLE32(p + 4), x2 = LoadLE32(p + 8),
                   x3 = LoadLE32(p + 12), x4 = LoadLE32(p + 16), x5 = LoadLE32(p + 20),
                   x6 = LoadLE32(p + 24), x7 = LoadLE32(p + 28), x8 = LoadLE32(p + 32),
                   x9 = LoadLE32(p + 36), x10 = LoadLE32(p + 40), x11 = LoadLE32(p + 44),
                   x12 = LoadLE32(p + 48), x13 = LoadLE32(p + 52), x14 = LoadLE32(p + 56),
                   x15 = LoadLE32(p + 60);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    FF<7>(a, b, c, d, x0, 0xD76AA478u);
    FF<12>(d, a, b, c, x1, 0xE8C7B756u);
    FF<17>(c, d, a, b, x2, 0x242070DBu);
    FF<22>(b, c, d, a, x3, 0xC1BDCEEEu);
    FF<7>(a, b, c, d, x4, 0xF57C0FAFu);
    FF<12>(d, a, b, c, x5, 0x4787C62Au);
    FF<17>(c, d, a, b, x6, 0xA8304613u);
    FF<22>(b, c, d, a, x7, 0xFD469501u);
    FF<7>(a, b, c, d, x8, 0x698098D8u);
    FF<12>(d, a, b, c, x9, 0x8B44F7AFu);
    FF<17>(c, d, a, b, x10, 0xFFFF5BB1u);
    FF<22>(b, c, d, a, x11, 0x895CD7BEu);
    FF<7>(a, b, c, d, x12, 0x6B901122u);
    FF<12>(d, a, b, c, x13, 0xFD987193u);
    FF<17>(c, d, a, b, x14, 0xA679438Eu);
    FF<22>(b, c, d, a, x15, 0x49B40821u);

    GG<5>(a, b, c, d, x1, 0xF61E2562u);
    GG<9>(d, a, b, c, x6, 0xC040B340u);
    GG<14>(c, d, a, b, x11, 0x265E5A51u);
    GG<20>(b, c, d, a, x0, 0xE9B6C7AAu);
    GG<5>(a, b, c, d, x5, 0xD62F105Du);
    GG<9>(d, a, b, c, x10, 0x02441453u);
    GG<14>(c, d, a, b, x15, 0xD8A1E681u);
    GG<20>(b, c, d, a, x4, 0xE7D3FBC8u);
    GG<5>(a, b, c, d, x9, 0x21E1CDE6u);
    GG<9>(d, a, b, c, x14, 0xC33707D6u);
    GG<14>(c, d, a, b, x3, 0xF4D50D87u);
    GG<20>(b, c, d, a, x8, 0x455A14EDu);
    GG<5>(a, b, c, d, x13, 0xA9E3E905u);
    GG<9>(d, a, b, c, x2, 0xFCEFA3F8u);
    GG<14>(c, d, a, b, x7, 0x676F02D9u);
    GG<20>(b, c, d, a, x12, 0x8D2A4C8Au);

    HH<4>(a, b, c, d, x5, 0xFFFA3942u);
    HH<11>(d, a, b, c, x8, 0x8771F681u);
    HH<16>(c, d, a, b, x11, 0x6D9D6122u);
    HH<23>(b, c, d, a, x14, 0xFDE5380Cu);
    HH<4>(a, b, c, d, x1, 0xA4BEEA44u);
    HH<11>(d, a, b, c, x4, 0x4BDECFA9u);
    HH<16>(c, d, a, b, x7, 0xF6BB4B60u);
    HH<23>(b, c, d, a, x10, 0xBEBFBC70u);
    HH<4>(a, b, c, d, x13, 0x289B7EC6u);
    HH<11>(d, a, b, c, x0, 0xEAA127FAu);
    HH<16>(c, d, a, b, x3, 0xD4EF3085u);
    HH<23>(b, c, d, a, x6, 0x04881D05u);
    HH<4>(a, b, c, d, x9, 0xD9D4D039u);
    HH<11>(d, a, b, c, x12, 0xE6DB99E5u);
    HH<16>(c, d, a, b, x15, 0x1FA27CF8u);
    HH<23>(b, c, d, a, x2, 0xC4AC5665u);

    II<6>(a, b, c, d, x0, 0xF4292244u);
    II<10>(d, a, b, c, x7, 0x432AFF97u);
    II<15>(c, d, a, b, x14, 0xAB9423A7u);
    II<21>(b, c, d, a, x5, 0xFC93A039u);
    II<6>(a, b, c, d, x12, 0x655B59C3u);
    II<10>(d, a, b, c, x3, 0x8F0CCC92u);
    II<15>(c, d, a, b, x10, 0xFFEFF47Du);
    II<21>(b, c, d, a, x1, 0x85845DD1u);
    II<6>(a, b, c, d, x8, 0x6FA87E4Fu);
    II<10>(d, a, b, c, x15, 0xFE2CE6E0u);
    II<15>(c, d, a, b, x6, 0xA3014314u);
    II<21>(b, c, d, a, x13, 0x4E0811A1u);
    II<6>(a, b, c, d, x4, 0xF7537E82u);
    II<10>(d, a, b, c, x11, 0xBD3AF235u);
    II<15>(c, d, a, b, x2, 0x2AD7D2BBu);
    II<21>(b, c, d, a, x9, 0xEB86D391u);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace

void MD5Init(DigestContext& context) {
  std::memset(&context, 0, sizeof context);
  std::memcpy(context.state, kStartState, sizeof kStartState);
}

void MD5Transform(uint32_t (&state)[4], const uint8_t* block) {
  TransformBlocks(state, block, 1);
}

void MD5Update(DigestContext& context, const void* input, size_t length) {
  if (length == 0) return;
  const auto* in = static_cast<const uint8_t*>(input);
  size_t index = (context.count[0] >> 3) & 0x3F;

  // The bit count is kept modulo 2^64 as the padding requires; doing the sum in 64 bits carries
  // into the high word for inputs of any length, not just those below 4 GiB.
  const uint64_t bits = ((static_cast<uint64_t>(context.count[1]) << 32) | context.count[0]) +
                        (static_cast<uint64_t>(length) << 3);
  context.count[0] = static_cast<uint32_t>(bits);
  context.count[1] = static_cast<uint32_t>(bits >> 32);

  const size_t partLen = 64 - index;
  size_t i = 0;
  if (length >= partLen) {
    std::memcpy(context.buffer + index, in, partLen);
    TransformBlocks(context.state, context.buffer, 1);
    i = partLen;
    // Whole blocks are compressed straight from the caller's bytes, without copying.
    const size_t blocks = (length - i) / 64;
    TransformBlocks(context.state, in + i, blocks);
    i += blocks * 64;
    index = 0;
  }
  std::memcpy(context.buffer + index, in + i, length - i);
}

DigestValue MD5Final(DigestContext& context) {
  uint8_t lengthBytes[8];
  StoreLE32(lengthBytes, context.count[0]);
  StoreLE32(lengthBytes + 4, context.count[1]);

  const size_t index = (context.count[0] >> 3) & 0x3F;
  const size_t padLen = index < 56 ? 56 - index : 120 - index;
  MD5Update(context, kPadding, padLen);
  MD5Update(context, lengthBytes, sizeof lengthBytes);

  DigestValue digest;
  for (int w = 0; w < 4; ++w) StoreLE32(digest.data() + 4 * w, context.state[w]);
  // The context holds the tail of the message; a plain memset of a dying local may be dropped
  // by the optimiser, this one may not.
  explicit_bzero(&context, sizeof context);
  return digest;
}

DigestValue DigestBytes(const void* data, size_t length) {
  DigestContext context;
  MD5Init(context);
  MD5Update(context, data, length);
  return MD5Final(context);
}

DigestValue DigestText(std::string_view text) {
  return DigestBytes(text.data(), text.size());
}

DigestValue DigestStream(TStream& stream) {
  DigestContext context;
  MD5Init(context);
  const int64_t size = stream.Size();
  const int64_t position = stream.Position();
  try {
    stream.SetPosition(0);
    uint8_t buffer[kReadPiece];
    int64_t total = 0;
    // A short read does not end the loop: pipes and slow streams deliver in smaller pieces.
    // Stopping once the noted size is reached saves the final empty read on files.
    for (;;) {
      const int64_t got = stream.Read(buffer, kReadPiece);
      if (got < 0 || got > kReadPiece) throw EReadError();
      if (got == 0) break;
      MD5Update(context, buffer, static_cast<size_t>(got));
      total += got;
      if (total >= size) break;
    }
  } catch (...) {
    // The caller sees the failure that stopped the digest, not a second one from putting the
    // position back.
    try {
      stream.SetPosition(position);
    } catch (...) {
    }
    throw;
  }
  stream.SetPosition(position);
  return MD5Final(context);
}

DigestValue DigestFile(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenReadExclusive);
  return DigestStream(file);
}

std::string DigestToHex(const DigestValue& digest) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(digest.size() * 2, '0');
  for (size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  return text;
}

std::string DigestToLowerHex(const DigestValue& digest) {
  std::string text = DigestToHex(digest);
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

std::string GetMD5(std::string text) {
  return DigestToLowerHex(DigestText(text));
}

std::string GetMD5_File(std::string fileName) {
  return DigestToLowerHex(DigestFile(fileName));
}

}  // namespace lumen
