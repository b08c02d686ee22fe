// File tests and the installation's file replacement.
//
// The new executable never overwrites the old one in place: a write that fails half-way (a full
// disk) would otherwise leave the user with a truncated program and nothing to go back to. It is
// written beside the old one and renamed over it, which the file system does atomically.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/exceptions.h"
#include "platform/system.h"

namespace lumen {
namespace {

// Largest single write; the kernel caps one write a little below 2 GiB anyway.
constexpr size_t kWriteChunk = size_t{1} << 30;

// A temporary file that is removed unless it was renamed into place.
class TempFile {
 public:
  // Creates "<folder>/.<name>.XXXXXX"; raises EFOpenError naming `reportedName`.
  TempFile(const std::string& folder, const std::string& name, const std::string& reportedName) {
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ < 0) throw EFOpenError(reportedName, errno);
    path_.assign(buffer.data());
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int Fd() const noexcept { return fd_; }
  const std::string& Path() const noexcept { return path_; }
  // Closing reports deferred write errors on some file systems, so it is checked like a write.
  int Close() noexcept {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void Commit() noexcept { committed_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool committed_ = false;
};

void WriteAll(int fd, const uint8_t* p, size_t size, const std::string& reportedName) {
  while (size > 0) {
    const ssize_t put = ::write(fd, p, std::min(size, kWriteChunk));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw EWriteError(reportedName, errno);
    }
    if (put == 0) throw EWriteError(reportedName, ENOSPC);
    p += put;
    size -= static_cast<size_t>(put);
  }
}

// A link is followed so that the file it names is replaced and the link itself survives.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) throw EFOpenError(path, errno);
  return resolved.get();
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ReplaceFileContents(const std::string& path, const void* bytes, size_t size) {
  const std::string target = ResolveTarget(path);

  // An executable that is new gets the usual executable permissions; one that exists keeps its
  // own, but never set-id bits: those were granted to the old contents, not to these.
  mode_t mode = 0755;
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed) {
    if (S_ISDIR(old.st_mode)) throw EFOpenError(path, EISDIR);
    if (!S_ISREG(old.st_mode)) throw EFOpenError(path, EINVAL);
    mode = old.st_mode & 0777;
  } else if (errno != ENOENT) {
    throw EFOpenError(path, errno);
  }

  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) throw EFOpenError(path, EISDIR);

  TempFile temp(folder, name, path);
  WriteAll(temp.Fd(), static_cast<const uint8_t*>(bytes), size, path);
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    // Only a privileged updater can give the file back to its owner; otherwise it becomes ours,
    // as any file we create does.
    [[maybe_unused]] const int chowned = ::fchown(temp.Fd(), old.st_uid, old.st_gid);
  }
  if (::fchmod(temp.Fd(), mode) != 0) throw EWriteError(path, errno);
  if (::fsync(temp.Fd()) != 0) throw EWriteError(path, errno);
  if (temp.Close() != 0) throw EWriteError(path, errno);
  if (::rename(temp.Path().c_str(), target.c_str()) != 0) throw EFOpenError(path, errno);
  temp.Commit();

  // Make the rename itself durable. It has already happened, so a failure here cannot be
  // reported as "the old file is intact"; the new file is in place either way.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    [[maybe_unused]] const int synced = ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace lumen
