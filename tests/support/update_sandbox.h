// A folder laid out the way the updater finds itself installed: the updater's own path, the
// companion executable beside it, and release archives whose "executable" is a small shell
// program that writes one line to a log beside itself each time it starts. Tests see from the
// log that the new program really ran, which build it was, and with how many arguments.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/zip_builder.h"

namespace lumen::test {

class TUpdateSandbox {
 public:
  TUpdateSandbox();

  const std::string& Folder() const { return dir_.Path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }
  // What the form is told its own executable is (the folder is all that matters).
  std::string UpdaterPath() const { return dir_ / "lumen-updater"; }
  std::string TargetPath() const { return dir_ / "Lumen_Courier.exe"; }

  // The release program of the given version: starting it appends "<version> <argc>" to the log.
  static std::string Program(const std::string& version);
  // A ZIP archive holding the release program as "Lumen_Courier.exe" (deflated), among others.
  // Its entries: readme.txt, Lumen_Courier.exe, lib/helper.dat, in this order.
  static std::string ReleaseArchive(const std::string& version);
  static ZipLayout ReleaseLayout(const std::string& version);

  // Puts the given bytes at the target path, executable.
  void InstallTarget(const std::string& bytes) const;
  // The target's bytes; "<missing>" when there is no such file.
  std::string TargetBytes() const;

  // The log lines so far, and a wait until there are at least `count` of them (false at the
  // deadline). Programs are started detached, so their lines come some time after the start.
  std::vector<std::string> Starts() const;
  bool WaitForStarts(size_t count, std::chrono::seconds deadline = std::chrono::seconds(15)) const;

  // Names in the folder other than the target, the updater and the log: what a failed
  // installation might have left behind.
  std::vector<std::string> Leftovers() const;

 private:
  ScratchDir dir_;
};

// While alive, the process cannot make any file grow past `bytes` (a full disk as far as the
// writer can tell): writes beyond fail with EFBIG instead of raising SIGXFSZ.
class TScopedFileSizeLimit {
 public:
  explicit TScopedFileSizeLimit(uint64_t bytes);
  ~TScopedFileSizeLimit();
  TScopedFileSizeLimit(const TScopedFileSizeLimit&) = delete;
  TScopedFileSizeLimit& operator=(const TScopedFileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

// While alive, the calling thread is held to the folder permission bits even when it runs as
// root: the capabilities that let root write into any folder are dropped from its effective set
// (and restored afterwards). Without root this changes nothing, and the bits apply anyway.
class TScopedPermissionChecks {
 public:
  TScopedPermissionChecks();
  ~TScopedPermissionChecks();
  TScopedPermissionChecks(const TScopedPermissionChecks&) = delete;
  TScopedPermissionChecks& operator=(const TScopedPermissionChecks&) = delete;

 private:
  bool dropped_ = false;
  uint32_t saved_[2] = {0, 0};
};

}  // namespace lumen::test
