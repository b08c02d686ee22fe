// Shared pieces of the archiver's tests: an archiver opened on bytes a test built, extraction
// into a fresh stream with the outcome captured, and an output stream that refuses bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/stream.h"
#include "tests/support/zip_builder.h"

namespace lumen::test {

// What one ExtractEntryTo did: the output's bytes and the native code it raised, if any.
struct Extraction {
  Bytes output;
  std::optional<int32_t> nativeError;
  std::string message;
};

inline Bytes StreamBytes(TMemoryStream& stream) {
  return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

// An archiver named as the update window names it, open on a copy of the given bytes.
class OpenArchive {
 public:
  explicit OpenArchive(const Bytes& bytes) : stream_(MakeStream(bytes)) {
    archiver_.SetName("ZipArchiver1");
    archiver_.OpenFromStream(*stream_);
  }

  TZipArchiver& archiver() { return archiver_; }
  TMemoryStream& stream() { return *stream_; }

  Extraction Extract(const std::u16string& name) {
    TMemoryStream out;
    Extraction result;
    try {
      archiver_.ExtractEntryTo(name, out);
    } catch (const EZAException& e) {
      result.nativeError = e.NativeError();
      result.message = e.Message();
    }
    result.output = StreamBytes(out);
    return result;
  }

 private:
  std::unique_ptr<TMemoryStream> stream_;
  TZipArchiver archiver_;
};

// An output that takes at most `room` bytes in all and then accepts only part of a write (or
// nothing), as a full disk does. The room can be raised by a test's disk-full handler.
class RefusingStream : public TStream {
 public:
  explicit RefusingStream(int64_t room) : room_(room) {}

  int64_t Read(void* buffer, int64_t count) override { return inner_.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t free = room_ - inner_.Position();
    const int64_t taken = count <= free ? count : (free > 0 ? free : 0);
    if (taken > 0) inner_.Write(buffer, taken);
    return taken;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return inner_.Seek(offset, origin); }
  void SetSize(int64_t newSize) override { inner_.SetSize(newSize); }
  int64_t Size() override { return inner_.Size(); }

  void SetRoom(int64_t room) { room_ = room; }
  Bytes Contents() { return StreamBytes(inner_); }

 private:
  int64_t room_;
  TMemoryStream inner_;
};

inline Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

}  // namespace lumen::test
