// Child processes with piped standard streams, read without deadlocking on full pipes.
#include "tool_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/support/zip_builder.h"

extern char** environ;

namespace lumen::test {

namespace {

// A pipe end closed on every path.
class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() { Close(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

void MakePipe(TFd& readEnd, TFd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  readEnd.Reset(fds[0]);
  writeEnd.Reset(fds[1]);
}

}  // namespace

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdinBytes, const std::string& workDir) {
  TFd inRead, inWrite, outRead, outWrite, errRead, errWrite;
  MakePipe(inRead, inWrite);
  MakePipe(outRead, outWrite);
  MakePipe(errRead, errWrite);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inRead.Get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), STDERR_FILENO);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());

  std::vector<std::string> argvStrings;
  argvStrings.push_back(program);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argvStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawned =
      ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  inRead.Close();
  outWrite.Close();
  errWrite.Close();

  TRunResult result;
  size_t fed = 0;
  if (stdinBytes.empty()) inWrite.Close();
  // Feed and drain together: a child that fills one pipe while we wait on another would hang.
  while (outRead.Get() >= 0 || errRead.Get() >= 0) {
    pollfd fds[3];
    nfds_t count = 0;
    auto watch = [&](TFd& fd, short events) {
      if (fd.Get() >= 0) fds[count++] = pollfd{fd.Get(), events, 0};
    };
    watch(outRead, POLLIN);
    watch(errRead, POLLIN);
    watch(inWrite, POLLOUT);
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inWrite.Get()) {
        const ssize_t put =
            ::write(inWrite.Get(), stdinBytes.data() + fed, stdinBytes.size() - fed);
        if (put > 0) fed += static_cast<size_t>(put);
        if (put <= 0 || fed == stdinBytes.size()) inWrite.Close();
        continue;
      }
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      TFd& source = fds[i].fd == outRead.Get() ? outRead : errRead;
      std::string& sink = fds[i].fd == outRead.Get() ? result.out : result.err;
      if (got > 0) {
        sink.append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        source.Close();
      }
    }
  }
  inWrite.Close();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ToolPath(const std::string& name) {
  return std::string(LUMEN_BINARY_DIR) + "/tools/" + name;
}

std::string CorpusPath(const std::string& relative) {
  return std::string(LUMEN_CORPUS_DIR) + "/" + relative;
}

std::string NoiseOf(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return s;
}

std::string ZipWithInfoZip(const std::string& folder, const std::string& archiveName,
                           const std::vector<std::pair<std::string, std::string>>& files,
                           const std::vector<std::string>& options) {
  std::vector<std::string> args = {"-q", "-X"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(archiveName);
  for (const auto& [name, content] : files) {
    const std::string path = folder + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteTextFile(path, content);
    args.push_back(name);
  }
  const TRunResult made = RunProgram("zip", args, {}, folder);
  EXPECT_EQ(made.exitCode, 0) << made.err;
  return folder + "/" + archiveName;
}

std::string ReferenceCrc32Hex(const std::string& bytes) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(ReferenceCrc32(bytes)));
  return hex;
}

}  // namespace lumen::test
