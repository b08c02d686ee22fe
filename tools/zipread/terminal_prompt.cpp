// Echo-less line input on the controlling terminal, restoring its settings on every exit path.
#include "tools/zipread/terminal_prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace lumen::tools {

namespace {

// The settings to put back if a signal ends the program while echo is off; a signal handler may
// only touch plain static data.
struct termios g_saved {};
volatile sig_atomic_t g_restoreOnSignal = 0;

void RestoreAndReraise(int signal) {
  if (g_restoreOnSignal) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

class TEchoOff {
 public:
  TEchoOff() {
    if (::tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
    struct termios quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    oldInt_ = ::signal(SIGINT, RestoreAndReraise);
    oldTerm_ = ::signal(SIGTERM, RestoreAndReraise);
    g_restoreOnSignal = 1;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~TEchoOff() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_restoreOnSignal = 0;
    if (oldInt_ != SIG_ERR) ::signal(SIGINT, oldInt_);
    if (oldTerm_ != SIG_ERR) ::signal(SIGTERM, oldTerm_);
  }
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;

 private:
  bool active_ = false;
  void (*oldInt_)(int) = SIG_ERR;
  void (*oldTerm_)(int) = SIG_ERR;
};

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

}  // namespace

bool StdinIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  // Echo goes off before the prompt shows, so that nothing typed in answer to it is echoed or
  // lost to the change of settings.
  TEchoOff quiet;
  // The prompt goes to the terminal itself, so that it shows even when standard output carries
  // extracted bytes and standard error is redirected.
  int tty = ::open("/dev/tty", O_WRONLY | O_CLOEXEC);
  WriteAll(tty >= 0 ? tty : STDERR_FILENO, prompt);
  if (tty >= 0) ::close(tty);

  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (line.empty()) return std::nullopt;
      break;
    }
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace lumen::tools
