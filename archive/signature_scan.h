// Forward search of a stream for a 4-byte record signature, reading in chunks that overlap by the
// signature's length so that a signature split between two chunks is still found.
#pragma once

#include <cstdint>
#include <vector>

namespace lumen {

class TStream;

class TSignatureScanner {
 public:
  // Chunks are read chunkSize bytes at a time (at least 8).
  TSignatureScanner(TStream& stream, uint32_t signature, int64_t chunkSize);

  // Position of the first occurrence at or after from, or -1. Successive calls with growing
  // positions reuse the chunk in hand, so walking a whole stream reads each byte about once.
  // The stream's position is left wherever the last chunk read put it.
  int64_t Find(int64_t from);

 private:
  bool Load(int64_t from);

  TStream& stream_;
  uint8_t sig_[4];
  int64_t chunkSize_;
  std::vector<uint8_t> buffer_;
  int64_t bufferStart_ = -1;  // stream position of buffer_[0]; -1 when nothing is held
  int64_t bufferEnd_ = -1;
};

}  // namespace lumen
