// Stream implementations. The memory stream allocates with malloc/realloc so that large
// downloads and extractions grow in place where the allocator can, without zero-filling.
#include "platform/stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/exceptions.h"

namespace lumen {

namespace {

int64_t ResolveSeek(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning:
      base = 0;
      break;
    case TSeekOrigin::soCurrent:
      base = position;
      break;
    case TSeekOrigin::soEnd:
      base = size;
      break;
  }
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0) {
    throw Exception("Stream seek error");
  }
  return base + offset;
}

// A download or an extracted release of a few hundred MiB is written once, front to back; in
// 4 KiB pages that is a page fault every 4 KiB, which costs more than copying the bytes. Where
// the kernel hands out transparent huge pages on request, the buffer asks for them.
void AdviseHugePages(uint8_t* data, int64_t capacity) {
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (capacity < static_cast<int64_t>(2 * kHugePage)) return;
  const auto begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (begin + static_cast<uintptr_t>(capacity)) & ~(kHugePage - 1);
  // Only a hint: without huge pages the buffer works the same, page by page.
  if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0) throw EReadError();
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t got = Read(out + done, count - done);
    if (got <= 0) throw EReadError();
    done += got;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0) throw EWriteError();
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t put = Write(in + done, count - done);
    if (put <= 0) throw EWriteError();
    done += put;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  int64_t done = 0;
  while (done < count) {
    const int64_t piece = std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), piece);
    WriteBuffer(buffer.data(), piece);
    done += piece;
  }
  return done;
}

// ---- TMemoryStream ----

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_.get() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  std::memcpy(WriteSpace(count), buffer, static_cast<size_t>(count));
  CommitWrite(count);
  return count;
}

uint8_t* TMemoryStream::WriteSpace(int64_t count) {
  if (count < 0) count = 0;
  if (position_ > std::numeric_limits<int64_t>::max() - count) throw EOutOfMemory();
  const int64_t end = position_ + count;
  if (end > capacity_) {
    // Doubling keeps appends linear; small streams start at 64 KiB.
    Reserve(std::max({end, capacity_ * 2, int64_t{65536}}));
  }
  return data_.get() + position_;
}

void TMemoryStream::CommitWrite(int64_t count) {
  if (count <= 0) return;
  if (count > capacity_ - position_) throw EWriteError();
  // A position past the end leaves a gap, which reads as zeros like any grown part.
  if (position_ > size_)
    std::memset(data_.get() + size_, 0, static_cast<size_t>(position_ - size_));
  position_ += count;
  size_ = std::max(size_, position_);
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin, position_, size_);
  return position_;
}

void TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= capacity_) return;
  if (static_cast<uint64_t>(capacity) > std::numeric_limits<size_t>::max() / 2)
    throw EOutOfMemory();
  void* grown = std::realloc(data_.get(), static_cast<size_t>(capacity));
  if (grown == nullptr) throw EOutOfMemory();
  (void)data_.release();
  data_.reset(static_cast<uint8_t*>(grown));
  capacity_ = capacity;
  AdviseHugePages(data_.get(), capacity_);
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw Exception("Stream seek error");
  if (newSize > capacity_) Reserve(newSize);
  if (newSize > size_) std::memset(data_.get() + size_, 0, static_cast<size_t>(newSize - size_));
  size_ = newSize;
  position_ = std::min(position_, size_);
}

void TMemoryStream::Clear() {
  data_.reset();
  size_ = capacity_ = position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  const int64_t size = file.Size();
  Clear();
  // The file's bytes go straight into the reserved room; zero-filling it first would touch every
  // page twice.
  Reserve(size);
  file.ReadBuffer(data_.get(), size);
  size_ = size;
  position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, TFileMode::fmCreate);
  file.WriteBuffer(data_.get(), size_);
}

// ---- TDiscardStream ----

int64_t TDiscardStream::Read(void*, int64_t) {
  return 0;
}

int64_t TDiscardStream::Write(const void*, int64_t count) {
  if (count <= 0) return 0;
  if (position_ > std::numeric_limits<int64_t>::max() - count) throw EWriteError();
  position_ += count;
  size_ = std::max(size_, position_);
  return count;
}

int64_t TDiscardStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin, position_, size_);
  return position_;
}

void TDiscardStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw Exception("Stream size error");
  size_ = newSize;
  position_ = std::min(position_, size_);
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : fileName_(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TFileMode::fmOpenRead:
    case TFileMode::fmOpenReadExclusive:
      flags |= O_RDONLY;
      break;
    case TFileMode::fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    case TFileMode::fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  fd_ = ::open(fileName.c_str(), flags, 0644);
  if (fd_ < 0) throw EFOpenError(fileName, errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd_);
    throw EFOpenError(fileName, err);
  }
  if (mode == TFileMode::fmOpenReadExclusive && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd_);
    throw EFOpenError(fileName, err);
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (got >= 0) return got;
    if (errno != EINTR) throw EReadError();
  }
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t put =
        ::write(fd_, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (put >= 0) return put;
    if (errno != EINTR) return 0;
  }
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t target = ResolveSeek(offset, origin, ::lseek(fd_, 0, SEEK_CUR), Size());
  if (::lseek(fd_, target, SEEK_SET) < 0) throw Exception("Stream seek error");
  return target;
}

void TFileStream::SetSize(int64_t newSize) {
  if (newSize < 0 || ::ftruncate(fd_, newSize) != 0) throw EWriteError();
}

int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EReadError();
  return st.st_size;
}

void TFileStream::Flush() {
  if (::fsync(fd_) != 0) throw EWriteError();
}

}  // namespace lumen
