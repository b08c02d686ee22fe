// Window lookup by title, input through xdotool, and child processes on a test's screen.
#include "x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lumen::gui {

namespace {

using Clock = std::chrono::steady_clock;

Display* Dpy(void* d) {
  return static_cast<Display*>(d);
}

// The environment of this process with DISPLAY replaced.
std::vector<std::string> EnvironmentWith(const std::string& display) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
  env.push_back("DISPLAY=" + display);
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Spawns a program found on PATH; stdout and stderr go to /dev/null when quiet.
pid_t Spawn(std::vector<std::string> argv, const std::string& display, bool quiet,
            const std::string& workingDir = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
  std::vector<std::string> env =
      display.empty() ? std::vector<std::string>{} : EnvironmentWith(display);
  std::vector<char*> cargv = CStrings(argv);
  std::vector<char*> cenv = CStrings(env);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(),
                              display.empty() ? environ : cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

int WaitStatus(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

bool ProgramAvailable(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Windows come and go while we look at them; a request about one that has just gone must not
// end the test process, which is what Xlib's default handler does.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

XClient::XClient(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
  if (!display_) throw std::runtime_error("cannot open display " + display);
  XSetErrorHandler(IgnoreXError);
}

XClient::~XClient() {
  XCloseDisplay(Dpy(display_));
}

std::string XClient::Title(unsigned long window) {
  Display* d = Dpy(display_);
  // Non-Latin titles live only in the UTF-8 property; the legacy one is a fallback.
  const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (type == utf8 && format == 8) title.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    if (!title.empty()) return title;
  }
  char* name = nullptr;
  if (XFetchName(d, window, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

std::vector<unsigned long> XClient::ViewableWindows() {
  std::vector<unsigned long> windows;
  Display* d = Dpy(display_);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return windows;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable)
      windows.push_back(children[i]);
  }
  if (children) XFree(children);
  return windows;
}

std::vector<std::string> XClient::Titles() {
  std::vector<std::string> titles;
  for (const unsigned long window : ViewableWindows()) titles.push_back(Title(window));
  return titles;
}

std::optional<unsigned long> XClient::Find(const std::string& title) {
  XSync(Dpy(display_), False);
  for (const unsigned long window : ViewableWindows()) {
    if (Title(window) == title) return window;
  }
  return std::nullopt;
}

unsigned long XClient::WaitFor(const std::string& title, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (auto w = Find(title)) return *w;
    if (Clock::now() >= deadline) {
      std::string seen;
      for (const std::string& t : Titles()) seen += " \"" + t + "\"";
      throw std::runtime_error("no window titled \"" + title + "\" appeared; visible:" + seen);
    }
    std::this_thread::sleep_for(50ms);
  }
}

bool XClient::WaitGone(const std::string& title, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Find(title)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

Rect XClient::Geometry(unsigned long window) {
  Display* d = Dpy(display_);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(d, window, &attributes)) throw std::runtime_error("no such window");
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
  return {x, y, attributes.width, attributes.height};
}

Rect XClient::Screen() {
  Display* d = Dpy(display_);
  return {0, 0, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
}

std::vector<std::pair<int, int>> XClient::IconSizes(unsigned long window) {
  Display* d = Dpy(display_);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<std::pair<int, int>> sizes;
  if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_ICON", False), 0, 1 << 20, False,
                         XA_CARDINAL, &type, &format, &count, &after, &data) != Success ||
      !data)
    return sizes;
  // Format-32 data arrives as longs: width, height, then width * height pixels, repeated.
  const long* values = reinterpret_cast<const long*>(data);
  for (unsigned long i = 0; i + 2 <= count;) {
    const long width = values[i], height = values[i + 1];
    sizes.emplace_back(static_cast<int>(width), static_cast<int>(height));
    i += 2 + static_cast<unsigned long>(width * height);
  }
  XFree(data);
  return sizes;
}

void XClient::RequestClose(unsigned long window) {
  Display* d = Dpy(display_);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &event);
  XFlush(d);
}

void Xdotool(const std::string& display, const std::vector<std::string>& args) {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  const int status = WaitStatus(Spawn(argv, display, true));
  if (status != 0) throw std::runtime_error("xdotool " + args.front() + " failed");
}

void ClickAt(const std::string& display, XClient& x, unsigned long window, int left, int top) {
  const Rect r = x.Geometry(window);
  // No "--sync": it waits for the pointer to move, forever when it is already there.
  Xdotool(display,
          {"mousemove", std::to_string(r.x + left), std::to_string(r.y + top), "click", "1"});
}

void PressKeys(const std::string& display, unsigned long window,
               const std::vector<std::string>& keys) {
  Xdotool(display, {"windowfocus", std::to_string(window)});
  std::vector<std::string> args{"key", "--delay", "30"};
  args.insert(args.end(), keys.begin(), keys.end());
  Xdotool(display, args);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& display,
                           const std::string& workingDir)
    : pid_(Spawn(argv, display, false, workingDir)) {}

ChildProcess::~ChildProcess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    WaitStatus(pid_);
  }
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!status_) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(50ms);
  }
  return status_;
}

void Screenshot(const std::string& display, const std::string& pngPath) {
  std::filesystem::create_directories(std::filesystem::path(pngPath).parent_path());
  if (WaitStatus(Spawn({"import", "-window", "root", pngPath}, display, true)) != 0)
    throw std::runtime_error("screenshot failed");
}

}  // namespace lumen::gui
