// The window lives in a forked child with its own X connection, so the process under test sees
// it exactly as it would see another application's window.
#include "tests/support/x_test_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace lumen::test {
namespace {

constexpr char kCloseRequestMark = 'D';

// In the child, a lost server must end only the child, without running the test binary's
// exit handlers a second time.
int ExitOnIoError(Display*) {
  ::_exit(3);
}

void WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, p, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) ::_exit(4);
    p += put;
    size -= static_cast<size_t>(put);
  }
}

void SetWmState(Display* d, Window w, long state) {
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  const long value[2] = {state, static_cast<long>(None)};
  XChangeProperty(d, w, wmState, wmState, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(value), 2);
}

[[noreturn]] void RunWindow(const TestWindowSpec& spec, int out) {
  XSetIOErrorHandler(&ExitOnIoError);
  Display* d = XOpenDisplay(nullptr);
  if (!d) ::_exit(2);
  const Window root = DefaultRootWindow(d);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  const Atom netWmName = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom wmProtocols = XInternAtom(d, "WM_PROTOCOLS", False);
  Atom wmDelete = XInternAtom(d, "WM_DELETE_WINDOW", False);

  const bool normal = !spec.framed || spec.wmState == 1;
  const Window frame = spec.framed ? XCreateSimpleWindow(d, root, 0, 0, 220, 140, 0, 0, 0) : 0;
  const Window w = XCreateSimpleWindow(d, spec.framed ? frame : root, 10, 30, 200, 100, 0, 0, 0);
  if (spec.netWmName) {
    XChangeProperty(d, w, netWmName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(spec.netWmName->data()),
                    static_cast<int>(spec.netWmName->size()));
  }
  if (spec.wmName) {
    const Atom type = spec.wmNameType == TestWindowSpec::NameType::kString ? XA_STRING : utf8;
    XChangeProperty(d, w, XA_WM_NAME, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(spec.wmName->data()),
                    static_cast<int>(spec.wmName->size()));
  }
  XSetWMProtocols(d, w, &wmDelete, 1);
  if (spec.framed) SetWmState(d, w, spec.wmState);
  if (spec.mapped && normal) XMapWindow(d, w);
  if (spec.framed && normal) XMapWindow(d, frame);
  XSync(d, False);

  const uint64_t ids[2] = {w, frame};
  WriteAll(out, ids, sizeof ids);

  for (;;) {
    XEvent event;
    XNextEvent(d, &event);
    if (event.type != ClientMessage || event.xclient.message_type != wmProtocols ||
        static_cast<Atom>(event.xclient.data.l[0]) != wmDelete) {
      continue;
    }
    WriteAll(out, &kCloseRequestMark, 1);
    switch (spec.onClose) {
      case TestWindowSpec::OnClose::kDestroy:
        XDestroyWindow(d, w);
        if (frame) XDestroyWindow(d, frame);
        XSync(d, False);
        ::_exit(0);
      case TestWindowSpec::OnClose::kWithdraw:
        XUnmapWindow(d, w);
        XSync(d, False);
        if (spec.framed) {
          // A window manager marks the client withdrawn only after it has seen the unmap; the
          // pause lets an observer see the unmap while the window is still marked normal.
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          SetWmState(d, w, 0);
          XUnmapWindow(d, frame);
        }
        break;
      case TestWindowSpec::OnClose::kMinimise:
        SetWmState(d, w, 3);
        XUnmapWindow(d, w);
        if (frame) XUnmapWindow(d, frame);
        break;
      case TestWindowSpec::OnClose::kIgnore:
        break;
    }
    XSync(d, False);
  }
}

}  // namespace

TestWindowProcess::TestWindowProcess(const TestWindowSpec& spec) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe for test window failed");
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    throw std::runtime_error("fork for test window failed");
  }
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    ::close(ends[0]);
    RunWindow(spec, ends[1]);
  }
  ::close(ends[1]);
  events_ = ends[0];
  uint64_t ids[2] = {0, 0};
  size_t have = 0;
  while (have < sizeof ids) {
    const ssize_t got = ::read(events_, reinterpret_cast<char*>(ids) + have, sizeof ids - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  if (have < sizeof ids) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(events_);
    throw std::runtime_error("test window process could not create its window");
  }
  window_ = ids[0];
  frame_ = ids[1];
}

TestWindowProcess::~TestWindowProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(events_);
}

bool TestWindowProcess::CloseRequestArrived(int seconds) {
  pollfd fd{events_, POLLIN, 0};
  if (::poll(&fd, 1, seconds * 1000) != 1) return false;
  char mark = 0;
  return ::read(events_, &mark, 1) == 1 && mark == kCloseRequestMark;
}

bool TestWindowProcess::ExitedCleanly() {
  // Bounded, so that a window that never goes fails the test instead of hanging it.
  for (int i = 0; i < 1000 && !reaped_; ++i) {
    int status = 0;
    const pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      reaped_ = true;
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace lumen::test
