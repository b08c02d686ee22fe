// Xvfb picks a free display itself (-displayfd) and writes its number only once it accepts
// connections, so tests running side by side never collide and never poll.
#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace lumen::test {

ScopedXvfb::ScopedXvfb() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe for Xvfb failed");
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    throw std::runtime_error("fork for Xvfb failed");
  }
  if (pid_ == 0) {
    // The server must not outlive a test process that crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
    ::dup2(ends[1], 3);  // dup2 clears close-on-exec on the copy
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0",
             "800x600x24", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(ends[1]);
  std::string number;
  char c = 0;
  for (;;) {
    const ssize_t got = ::read(ends[0], &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    number += c;
  }
  ::close(ends[0]);
  if (number.empty()) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("Xvfb did not start");
  }
  display_ = ":" + number;
  if (const char* previous = std::getenv("DISPLAY")) previousDisplay_ = previous;
  ::setenv("DISPLAY", display_.c_str(), 1);
}

ScopedXvfb::~ScopedXvfb() {
  ::kill(pid_, SIGTERM);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (previousDisplay_) {
    ::setenv("DISPLAY", previousDisplay_->c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
}

}  // namespace lumen::test
