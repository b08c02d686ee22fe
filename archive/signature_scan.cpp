// Chunked forward signature search.
#include "archive/signature_scan.h"

#include <algorithm>

#include "platform/stream.h"

namespace lumen {

namespace {
constexpr int64_t kSigLen = 4;
}

TSignatureScanner::TSignatureScanner(TStream& stream, uint32_t signature, int64_t chunkSize)
    : stream_(stream), chunkSize_(std::max<int64_t>(chunkSize, 2 * kSigLen)) {
  for (int k = 0; k < 4; ++k) sig_[k] = static_cast<uint8_t>(signature >> (8 * k));
}

bool TSignatureScanner::Load(int64_t from) {
  const int64_t size = stream_.Size();
  if (from < 0 || from > size - kSigLen) return false;
  const int64_t n = std::min(chunkSize_, size - from);
  buffer_.resize(static_cast<size_t>(n));
  stream_.Seek(from, TSeekOrigin::soBeginning);
  stream_.ReadBuffer(buffer_.data(), n);
  bufferStart_ = from;
  bufferEnd_ = from + n;
  return true;
}

int64_t TSignatureScanner::Find(int64_t from) {
  if (from < 0) from = 0;
  for (;;) {
    // Reuse the chunk in hand when the search starts inside it with room for a whole signature.
    if (bufferStart_ < 0 || from < bufferStart_ || from + kSigLen > bufferEnd_) {
      if (!Load(from)) return -1;
    }
    const auto begin = buffer_.begin() + (from - bufferStart_);
    const auto hit = std::search(begin, buffer_.end(), sig_, sig_ + kSigLen);
    if (hit != buffer_.end()) return bufferStart_ + (hit - buffer_.begin());
    if (bufferEnd_ >= stream_.Size()) return -1;
    // The next chunk starts early enough to catch a signature cut by this chunk's end.
    from = bufferEnd_ - (kSigLen - 1);
  }
}

}  // namespace lumen
