// inotify watch on a file's folder, filtered to the file's name.
#include "tests/support/file_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumen::test {

TFileOpenWatch::TFileOpenWatch(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_OPEN) < 0) {
    const std::string reason = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("cannot watch " + folder + ": " + reason);
  }
}

TFileOpenWatch::~TFileOpenWatch() {
  ::close(fd_);
}

bool TFileOpenWatch::Opened() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && name_ == event->name) opened_ = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return opened_;
}

}  // namespace lumen::test
