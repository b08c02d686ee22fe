// Seekable byte streams: the abstract TStream, the growable in-memory TMemoryStream and the
// file-backed TFileStream. Sizes and positions are 64-bit everywhere.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace lumen {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to count bytes at the position; returns how many arrived (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes at the position; returns how many the stream took.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position and returns it. A position before the start raises; one past the end is
  // allowed (reads there give nothing, writes extend the stream).
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize) = 0;
  virtual int64_t Size() = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  // Exact forms: raise EReadError / EWriteError when fewer bytes move than asked.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

  // Copies count bytes from source's position (count 0: the whole source from its start).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// Growable in-memory stream. Growth is geometric, so appending n bytes costs O(n) overall.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override = default;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override { return size_; }

  const uint8_t* Memory() const noexcept { return data_.get(); }
  uint8_t* Memory() noexcept { return data_.get(); }
  // Makes room for at least capacity bytes without changing the size.
  void Reserve(int64_t capacity);
  int64_t Capacity() const noexcept { return capacity_; }
  // Writing in place, for a producer that fills memory itself: WriteSpace makes room for count
  // bytes at the position and returns it; CommitWrite(n) then takes in the first n of them just
  // as Write of those bytes would have. Any other call on the stream in between voids the room.
  uint8_t* WriteSpace(int64_t count);
  void CommitWrite(int64_t count);
  void Clear();
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<uint8_t, FreeDeleter> data_;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
  int64_t position_ = 0;
};

// A stream that takes every byte and keeps none, only the size they make: checking what an
// extraction would write without holding it.
class TDiscardStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override { return size_; }

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

enum class TFileMode {
  fmOpenRead,           // existing file, read only
  fmOpenReadExclusive,  // existing file, read only, no other exclusive opener (advisory lock)
  fmOpenReadWrite,      // existing file, read and write
  fmCreate              // create or truncate, read and write
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError naming the file and the system's reason.
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override;

  const std::string& FileName() const noexcept { return fileName_; }
  // Pushes written bytes to the disk; raises on failure.
  void Flush();

 private:
  std::string fileName_;
  int fd_ = -1;
};

}  // namespace lumen
