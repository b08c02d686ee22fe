// Starting a program detached from the updater, the way opening an executable from the desktop
// does: its own session, no arguments, nothing for the updater to wait for.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system.h"

namespace lumen {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const noexcept { return fd_; }
  void Reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Everything from here to exec runs in a child forked from a possibly multi-threaded process,
// so it uses only async-signal-safe calls.
[[noreturn]] void ReportAndExit(int fd, int error) {
  ssize_t ignored = ::write(fd, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

// The started program should not inherit what the updater set up for itself: signals it
// ignores or blocks, and descriptors (the X connection, sockets) opened without close-on-exec.
void PrepareProgramEnvironment() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction current {};
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      struct sigaction standard {};
      standard.sa_handler = SIG_DFL;
      sigaction(sig, &standard, nullptr);
    }
  }
#ifdef CLOSE_RANGE_CLOEXEC
  // Close-on-exec rather than close, so that the error pipe stays usable if exec fails.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
#endif
}

}  // namespace

bool ShellOpen(const std::string& path) {
  if (path.empty()) return false;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};

  // Double fork: the intermediate child exits at once and we reap it, so the program is adopted
  // by init (or the nearest subreaper) and never lingers as our zombie.
  const pid_t intermediate = ::fork();
  if (intermediate < 0) return false;
  if (intermediate == 0) {
    ::setsid();
    const pid_t program = ::fork();
    if (program < 0) ReportAndExit(writeEnd.Get(), errno);
    if (program == 0) {
      PrepareProgramEnvironment();
      ::execv(path.c_str(), argv);
      ReportAndExit(writeEnd.Get(), errno);
    }
    ::_exit(0);
  }
  writeEnd.Reset();
  int status = 0;
  while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }

  // The pipe closes without data when exec succeeds (close-on-exec) and carries errno otherwise.
  int error = 0;
  ssize_t got;
  while ((got = ::read(readEnd.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  return got == 0;
}

}  // namespace lumen
