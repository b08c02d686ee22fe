// MD5 message digests (RFC 1321) over bytes, 8-bit text, streams and files, and their hex text.
//
// Contract:
// - Plain functions without shared state; every call uses its own context, so calls may run on
//   any thread at the same time. The caller owns every buffer, stream and context passed in.
// - The digest itself never allocates on the heap; only the hex texts are allocated.
// - The in-memory operations cannot fail. DigestStream passes a read or seek failure of the
//   stream through after putting the stream back where it was; DigestFile raises EFOpenError
//   for a file that is missing or held by a conflicting opener.
// - Lengths, stream sizes and positions are 64-bit: inputs of 4 GiB and more digest correctly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumen {

class TStream;

// The 16 digest bytes in RFC 1321 order: the four state words, each least significant byte first.
using DigestValue = std::array<uint8_t, 16>;

// Running state of one digest.
struct DigestContext {
  uint32_t state[4];   // chaining words A, B, C, D
  uint32_t count[2];   // message bits absorbed so far modulo 2^64, low word first
  uint8_t buffer[64];  // the first (count[0] >> 3) % 64 bytes are input not yet transformed
};

// Clears the whole context and loads the RFC 1321 start values.
void MD5Init(DigestContext& context);
// Absorbs length bytes at input (input may be null when length is 0).
void MD5Update(DigestContext& context, const void* input, size_t length);
// Pads, appends the message length, returns the digest and clears the whole context.
DigestValue MD5Final(DigestContext& context);
// The RFC 1321 compression of one 64-byte block into state.
void MD5Transform(uint32_t (&state)[4], const uint8_t* block);

DigestValue DigestBytes(const void* data, size_t length);
// The text's own bytes, no terminator; the empty text gives the digest of the empty message.
DigestValue DigestText(std::string_view text);
// The whole content from the first byte, read in 4096-byte pieces. The stream's position
// afterwards is the one it had before, also when a read or seek fails.
DigestValue DigestStream(TStream& stream);
// Opens the existing file read-only and exclusively (no other exclusive opener while it is
// open), digests it and closes it, also on failure. Raises EFOpenError when it cannot be opened.
DigestValue DigestFile(const std::string& fileName);

// 32 characters, two upper-case hex digits per byte, first byte first.
std::string DigestToHex(const DigestValue& digest);

// The form the update check compares and publishes: 32 lower-case hex digits.
std::string DigestToLowerHex(const DigestValue& digest);
std::string GetMD5(std::string text);
std::string GetMD5_File(std::string fileName);

}  // namespace lumen
