// A bounds-checked little-endian reader over a byte range. A read past the end sets a failure flag
// that stays set and makes every later read give zero, so a record is taken apart field by field
// and checked once at the end instead of after every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumen {

class TByteCursor {
 public:
  TByteCursor(const uint8_t* data, size_t size) noexcept : data_(data), size_(size) {}

  bool Ok() const noexcept { return ok_; }
  size_t Offset() const noexcept { return pos_; }
  size_t Remaining() const noexcept { return ok_ ? size_ - pos_ : 0; }

  uint8_t U8() noexcept { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() noexcept { return static_cast<uint16_t>(Take(2)); }
  uint32_t U32() noexcept { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() noexcept { return Take(8); }

  // The next n bytes, or nullptr (and failure) when fewer remain.
  const uint8_t* Bytes(size_t n) noexcept {
    if (!Have(n)) return nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }

  std::string String(size_t n) {
    const uint8_t* p = Bytes(n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
  }

  void Skip(size_t n) noexcept { Bytes(n); }

 private:
  bool Have(size_t n) noexcept {
    if (ok_ && n <= size_ - pos_) return true;
    ok_ = false;
    return false;
  }

  uint64_t Take(size_t n) noexcept {
    if (!Have(n)) return 0;
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | data_[pos_ + i];
    pos_ += n;
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace lumen
