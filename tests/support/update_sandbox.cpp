// Installation sandboxes and the fault switches (file-size limit, permission checks for root).
#include "tests/support/update_sandbox.h"

#include <linux/capability.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/zip_builder.h"

namespace lumen::test {

TUpdateSandbox::TUpdateSandbox() = default;

std::string TUpdateSandbox::Program(const std::string& version) {
  // The padding makes the program large enough that its deflated form differs from the stored
  // one and a truncated archive cuts through real compressed data.
  std::string padding;
  for (int i = 0; i < 200; ++i)
    padding += "# build " + version + " line " + std::to_string(i) + "\n";
  return "#!/bin/sh\n"
         "echo \"" +
         version +
         " $#\" >> \"$(dirname \"$0\")/started.log\"\n"
         "exit 0\n" +
         padding;
}

ZipLayout TUpdateSandbox::ReleaseLayout(const std::string& version) {
  ZipBuilder zip;
  zip.AddDeflated("readme.txt", "Lumen Courier " + version + "\n");
  zip.AddDeflated("Lumen_Courier.exe", Program(version));
  zip.AddStored("lib/helper.dat", "helper");
  return zip.Build();
}

std::string TUpdateSandbox::ReleaseArchive(const std::string& version) {
  const ZipLayout layout = ReleaseLayout(version);
  return std::string(layout.bytes.begin(), layout.bytes.end());
}

void TUpdateSandbox::InstallTarget(const std::string& bytes) const {
  WriteTextFile(TargetPath(), bytes);
  if (::chmod(TargetPath().c_str(), 0755) != 0) throw std::runtime_error("chmod target");
}

std::string TUpdateSandbox::TargetBytes() const {
  if (!std::filesystem::exists(TargetPath())) return "<missing>";
  return ReadTextFile(TargetPath());
}

std::vector<std::string> TUpdateSandbox::Starts() const {
  std::vector<std::string> lines;
  const std::string log = dir_ / "started.log";
  if (!std::filesystem::exists(log)) return lines;
  std::istringstream in(ReadTextFile(log));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool TUpdateSandbox::WaitForStarts(size_t count, std::chrono::seconds deadline) const {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (Starts().size() < count) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<std::string> TUpdateSandbox::Leftovers() const {
  std::vector<std::string> names = dir_.List();
  std::erase_if(names, [](const std::string& name) {
    return name == "Lumen_Courier.exe" || name == "lumen-updater" || name == "started.log";
  });
  return names;
}

TScopedFileSizeLimit::TScopedFileSizeLimit(uint64_t bytes) {
  // Ignored, the signal turns into EFBIG from the write that crosses the limit, as a full disk
  // gives ENOSPC: the writer sees a failed write and nothing kills the test.
  previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
  if (::getrlimit(RLIMIT_FSIZE, &previous_) != 0) throw std::runtime_error("getrlimit");
  rlimit limited = previous_;
  limited.rlim_cur = static_cast<rlim_t>(bytes);
  if (::setrlimit(RLIMIT_FSIZE, &limited) != 0) throw std::runtime_error("setrlimit");
}

TScopedFileSizeLimit::~TScopedFileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &previous_);
  ::signal(SIGXFSZ, previousHandler_);
}

namespace {

constexpr uint32_t kBypassMask =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

// The raw system call acts on the calling thread only, which is what keeps the drop from
// touching the test's other threads (servers).
bool Capabilities(__user_cap_data_struct (&data)[2], bool set) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

TScopedPermissionChecks::TScopedPermissionChecks() {
  if (::geteuid() != 0) return;
  __user_cap_data_struct data[2]{};
  if (!Capabilities(data, false)) throw std::runtime_error("capget");
  saved_[0] = data[0].effective;
  saved_[1] = data[1].effective;
  data[0].effective &= ~kBypassMask;
  if (!Capabilities(data, true)) throw std::runtime_error("capset");
  dropped_ = true;
}

TScopedPermissionChecks::~TScopedPermissionChecks() {
  if (!dropped_) return;
  __user_cap_data_struct data[2]{};
  if (!Capabilities(data, false)) return;
  data[0].effective = saved_[0];
  data[1].effective = saved_[1];
  Capabilities(data, true);
}

}  // namespace lumen::test
