// Helpers for the digest tests: OpenSSL's MD5 as the reference, and a stream wrapper that
// observes and disturbs the reads the digest makes.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "digest/md5.h"
#include "platform/exceptions.h"
#include "platform/stream.h"

namespace lumen::testing_md5 {

// Incremental MD5 from OpenSSL, used only to say what the right answer is.
class ReferenceMd5 {
 public:
  ReferenceMd5() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) != 1)
      throw Exception("EVP init");
  }
  void Update(const void* data, size_t length) {
    if (EVP_DigestUpdate(ctx_.get(), data, length) != 1) throw Exception("EVP update");
  }
  DigestValue Final() {
    DigestValue out{};
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), out.data(), &len) != 1 || len != out.size()) {
      throw Exception("EVP final");
    }
    return out;
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* c) const noexcept { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx_;
};

inline DigestValue ReferenceDigest(const void* data, size_t length) {
  ReferenceMd5 md5;
  md5.Update(data, length);
  return md5.Final();
}

// Forwards to another stream, counting reads; can hand out at most maxRead bytes per read
// and can raise EReadError on the read numbered failOnRead (1-based).
class ProbeStream : public TStream {
 public:
  explicit ProbeStream(TStream& inner) : inner_(inner) {}

  int reads = 0;
  int64_t maxRead = 0;  // 0: no cap
  int failOnRead = 0;   // 0: never

  int64_t Read(void* buffer, int64_t count) override {
    ++reads;
    if (failOnRead != 0 && reads == failOnRead) throw EReadError();
    if (maxRead > 0 && count > maxRead) count = maxRead;
    return inner_.Read(buffer, count);
  }
  int64_t Write(const void* buffer, int64_t count) override { return inner_.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return inner_.Seek(offset, origin); }
  void SetSize(int64_t newSize) override { inner_.SetSize(newSize); }
  int64_t Size() override { return inner_.Size(); }

 private:
  TStream& inner_;
};

// Deterministic, non-repeating-looking test bytes.
inline std::string PatternBytes(size_t length, uint32_t seed) {
  std::string out(length, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& ch : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    ch = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace lumen::testing_md5
