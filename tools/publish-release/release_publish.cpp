// Publishing a release: both files are written under temporary names beside their final names,
// checked, and only then renamed into place, so an interrupted or refused run leaves the pair
// that was there before.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "platform/exceptions.h"
#include "platform/stream.h"
#include "tools/common/archive_in_memory.h"
#include "tools/publish-release/release.h"
#include "tools/publish-release/zip_writer.h"

namespace lumen::tools {

namespace {

std::string SystemReason(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// A file under a unique temporary name in the release folder (so that renaming it is atomic),
// removed again unless it was renamed into place.
class TPendingFile {
 public:
  // The temporary name is hidden and tells what it holds: ".<finalName>.<role>-XXXXXX".
  TPendingFile(const std::string& folder, const std::string& finalName,
               const std::string& role = "new")
      : finalPath_(folder + "/" + finalName) {
    std::string pattern = folder + "/." + finalName + "." + role + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw EReleaseRefused(SystemReason("cannot create a file in " + folder, errno));
    ::close(fd);
    path_ = pattern;
  }
  ~TPendingFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;

  const std::string& Path() const noexcept { return path_; }
  const std::string& FinalPath() const noexcept { return finalPath_; }

  // Writes the bytes and pushes them to the disk before anything is renamed over a good file.
  void Write(const void* data, size_t size) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw EReleaseRefused(SystemReason("cannot write " + path_, errno));
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size && error == 0) {
      const ssize_t put = ::write(fd, p + done, size - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        error = put < 0 ? errno : ENOSPC;
      } else {
        done += static_cast<size_t>(put);
      }
    }
    // mkstemp makes the file private; a published file is read by the web server.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (error == 0 && ::fchmod(fd, 0666 & ~mask) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) throw EReleaseRefused(SystemReason("cannot write " + path_, error));
  }

  // Moves the file to its final name; it is then no longer removed.
  int Commit() {
    if (::rename(path_.c_str(), finalPath_.c_str()) != 0) return errno;
    path_.clear();
    return 0;
  }

 private:
  std::string path_;
  std::string finalPath_;
};

// The archive that was published before, copied aside until the new pair is in place, so that
// a failed second rename can put it back. A copy rather than a hard link, because the folder
// may be on a file system without links.
class TPreviousArchive {
 public:
  TPreviousArchive(const std::string& folder, const std::string& finalName)
      : finalPath_(folder + "/" + finalName) {
    TMemoryStream old;
    try {
      old.LoadFromFile(finalPath_);
    } catch (const EFOpenError& e) {
      if (e.SystemError() == ENOENT) return;  // nothing published before
      throw EReleaseRefused("cannot keep the previous archive: " + FailureText(e));
    } catch (const std::exception& e) {
      throw EReleaseRefused("cannot keep the previous archive: " + FailureText(e));
    }
    copy_ = std::make_unique<TPendingFile>(folder, finalName, "previous");
    copy_->Write(old.Memory(), static_cast<size_t>(old.Size()));
  }

  // Puts the old archive back, or removes the new one when there was none.
  bool Restore() {
    if (!copy_) return ::unlink(finalPath_.c_str()) == 0;
    return copy_->Commit() == 0;
  }

 private:
  std::string finalPath_;
  std::unique_ptr<TPendingFile> copy_;  // removed again unless restored
};

std::vector<uint8_t> ReadExecutable(const std::string& path, std::time_t& modified) {
  std::vector<uint8_t> content;
  try {
    TFileStream file(path, TFileMode::fmOpenRead);
    const int64_t size = file.Size();
    content.resize(static_cast<size_t>(size));
    file.ReadBuffer(content.data(), size);
  } catch (const std::exception& e) {
    throw EReleaseRefused(FailureText(e));
  }
  struct stat st {};
  modified = ::stat(path.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
  if (content.empty()) {
    throw EReleaseRefused(path + " is empty; the updater would install an empty program");
  }
  return content;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string PublishRelease(const std::string& executablePath, const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    throw EReleaseRefused(SystemReason("output folder " + folder, errno));
  }
  if (!S_ISDIR(st.st_mode)) throw EReleaseRefused("output folder " + folder + " is not a folder");

  std::time_t modified = 0;
  const std::vector<uint8_t> executable = ReadExecutable(executablePath, modified);
  const std::string digest = DigestToLowerHex(DigestBytes(executable.data(), executable.size()));
  std::vector<uint8_t> archive;
  try {
    archive = WriteSingleEntryArchive(kReleaseEntryName, executable, modified);
  } catch (const std::exception& e) {
    throw EReleaseRefused(executablePath + ": " + e.what());
  }

  TPendingFile newArchive(folder, kReleaseArchiveName);
  TPendingFile newDigest(folder, kReleaseDigestName);
  newArchive.Write(archive.data(), archive.size());
  newDigest.Write(digest.data(), digest.size());

  const std::string checked = CheckReleasePair(newArchive.Path(), newDigest.Path());
  if (checked != digest) {
    throw EReleaseRefused("the written archive holds a different file (MD5 " + checked + ") than " +
                          executablePath + " (MD5 " + digest + ")");
  }

  // The archive goes first: the updater only downloads it after update.md5 changed, and by then
  // the new archive is already in place.
  TPreviousArchive previous(folder, kReleaseArchiveName);
  if (const int error = newArchive.Commit()) {
    throw EReleaseRefused(SystemReason("cannot rename into " + newArchive.FinalPath(), error));
  }
  if (const int error = newDigest.Commit()) {
    const std::string reason = SystemReason("cannot rename into " + newDigest.FinalPath(), error);
    if (!previous.Restore()) {
      throw EReleaseRefused(reason + "; the archive could not be put back either, so " +
                            newArchive.FinalPath() + " no longer matches " + newDigest.FinalPath() +
                            ": fix this before users check for updates");
    }
    throw EReleaseRefused(reason + "; the previous files are unchanged");
  }
  SyncFolder(folder);
  return digest;
}

}  // namespace lumen::tools
