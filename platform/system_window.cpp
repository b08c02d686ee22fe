// Finding a top-level window by title and asking it to close, over Xlib.
//
// Each call opens its own connection: the toolkit's connection has its own event queue and error
// handler that we must not disturb, and a private connection lets us select events on a foreign
// window without them reaching the toolkit.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/system.h"

namespace lumen {
namespace {

// ICCCM WM_STATE values of a window that is managed; the third, withdrawn (0), is one that is not.
constexpr long kNormalState = 1;
constexpr long kIconicState = 3;

// Reparenting window managers put the client one or two levels below the frame; a few nest a
// little deeper. Beyond this a subtree is an application's own widgets, not worth the round trips.
constexpr int kClientSearchDepth = 4;

// Titles are short; this bounds what a hostile property can make us copy (in 32-bit units).
constexpr long kMaxPropertyLength = 1 << 16;

struct DisplayCloser {
  void operator()(Display* d) const noexcept { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
  void operator()(void* p) const noexcept {
    if (p) XFree(p);
  }
};
template <typename T>
using XPtr = std::unique_ptr<T, XFreeDeleter>;

// While alive, X protocol errors on its display are counted instead of reaching Xlib's default
// handler, which would end the process: a window may vanish between our finding it and asking
// about it. Errors on other connections (the toolkit's) still go to whatever handler was there.
// Xlib's handler is process-wide, so the traps form a stack; these calls run on one thread.
class ScopedErrorTrap {
 public:
  explicit ScopedErrorTrap(Display* display) : display_(display), outer_(innermost_) {
    innermost_ = this;
    previous_ = XSetErrorHandler(&OnError);
  }
  ~ScopedErrorTrap() {
    // Errors of requests still in flight belong to this trap, so collect them before leaving.
    XSync(display_, False);
    XSetErrorHandler(previous_);
    innermost_ = outer_;
  }
  ScopedErrorTrap(const ScopedErrorTrap&) = delete;
  ScopedErrorTrap& operator=(const ScopedErrorTrap&) = delete;

 private:
  static int OnError(Display* display, XErrorEvent* event) {
    for (ScopedErrorTrap* trap = innermost_; trap; trap = trap->outer_) {
      if (trap->display_ == display) return 0;
    }
    const ScopedErrorTrap* outermost = innermost_;
    while (outermost && outermost->outer_) outermost = outermost->outer_;
    if (outermost && outermost->previous_) return outermost->previous_(display, event);
    return 0;
  }

  static inline ScopedErrorTrap* innermost_ = nullptr;
  Display* display_;
  ScopedErrorTrap* outer_;
  XErrorHandler previous_ = nullptr;
};

struct Atoms {
  Atom wmState;
  Atom netWmName;
  Atom utf8String;
  Atom compoundText;
  Atom wmProtocols;
  Atom wmDeleteWindow;

  explicit Atoms(Display* d)
      : wmState(XInternAtom(d, "WM_STATE", False)),
        netWmName(XInternAtom(d, "_NET_WM_NAME", False)),
        utf8String(XInternAtom(d, "UTF8_STRING", False)),
        compoundText(XInternAtom(d, "COMPOUND_TEXT", False)),
        wmProtocols(XInternAtom(d, "WM_PROTOCOLS", False)),
        wmDeleteWindow(XInternAtom(d, "WM_DELETE_WINDOW", False)) {}
};

struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  XPtr<unsigned char> data;
};

// A missing property, a vanished window and a failed request all read as type None.
Property ReadProperty(Display* d, Window w, Atom name, Atom type) {
  Property p;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, name, 0, kMaxPropertyLength, False, type, &p.type, &p.format,
                         &p.count, &after, &data) != Success) {
    return {};
  }
  p.data.reset(data);
  return p;
}

std::optional<long> ReadWmState(Display* d, const Atoms& atoms, Window w) {
  const Property p = ReadProperty(d, w, atoms.wmState, atoms.wmState);
  if (p.type != atoms.wmState || p.format != 32 || p.count < 1) return std::nullopt;
  return reinterpret_cast<const long*>(p.data.get())[0];
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (const unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The window's title in UTF-8, or nullopt when it has none we can read.
std::optional<std::string> ReadTitle(Display* d, const Atoms& atoms, Window w) {
  {
    const Property p = ReadProperty(d, w, atoms.netWmName, atoms.utf8String);
    if (p.type == atoms.utf8String && p.format == 8) {
      return std::string(reinterpret_cast<const char*>(p.data.get()), p.count);
    }
  }
  const Property p = ReadProperty(d, w, XA_WM_NAME, AnyPropertyType);
  if (p.type == None || p.format != 8) return std::nullopt;
  const std::string_view raw(reinterpret_cast<const char*>(p.data.get()), p.count);
  if (p.type == XA_STRING) return Latin1ToUtf8(raw);
  if (p.type == atoms.utf8String) return std::string(raw);
  if (p.type == atoms.compoundText) {
    XTextProperty text{p.data.get(), p.type, p.format, p.count};
    char** list = nullptr;
    int n = 0;
    if (Xutf8TextPropertyToTextList(d, &text, &list, &n) < Success || !list) return std::nullopt;
    std::string out;
    for (int i = 0; i < n; ++i) out += list[i];
    XFreeStringList(list);
    return out;
  }
  return std::nullopt;
}

std::vector<Window> Children(Display* d, Window w) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &n)) return {};
  const XPtr<Window> owned(children);
  return std::vector<Window>(children, children + n);
}

// Under a window manager the application's window carries WM_STATE somewhere below the frame
// that is the root's child; without one, the root's child is the application's window itself.
Window ClientWindow(Display* d, const Atoms& atoms, Window topLevel) {
  if (ReadWmState(d, atoms, topLevel)) return topLevel;
  std::deque<std::pair<Window, int>> queue{{topLevel, 0}};
  while (!queue.empty()) {
    const auto [w, depth] = queue.front();
    queue.pop_front();
    if (depth >= kClientSearchDepth) continue;
    for (const Window child : Children(d, w)) {
      if (ReadWmState(d, atoms, child)) return child;
      queue.emplace_back(child, depth + 1);
    }
  }
  return topLevel;
}

// Shown or minimised. A window manager records minimised windows as iconic while they are
// unmapped; without a window manager nothing records state, and mapped is all there is.
bool IsPresent(Display* d, const Atoms& atoms, Window w) {
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(d, w, &attributes)) return false;
  if (const std::optional<long> state = ReadWmState(d, atoms, w)) {
    return *state == kNormalState || *state == kIconicState;
  }
  return attributes.map_state != IsUnmapped;
}

DisplayPtr OpenDisplay() {
  return DisplayPtr(XOpenDisplay(nullptr));
}

}  // namespace

std::optional<TWindowHandle> FindTopLevelWindow(const std::string& title) {
  const DisplayPtr display = OpenDisplay();
  if (!display) return std::nullopt;
  Display* d = display.get();
  const ScopedErrorTrap trap(d);
  const Atoms atoms(d);
  const std::string wanted = AnsiToUtf8(title);

  // Walk every screen's top-level windows from the top of the stacking order down, so that the
  // window the user sees is the one found when several share a title.
  for (int screen = 0; screen < ScreenCount(d); ++screen) {
    const std::vector<Window> topLevels = Children(d, RootWindow(d, screen));
    for (auto it = topLevels.rbegin(); it != topLevels.rend(); ++it) {
      const Window client = ClientWindow(d, atoms, *it);
      if (ReadTitle(d, atoms, client) != wanted) continue;
      if (!IsPresent(d, atoms, client)) continue;
      return TWindowHandle{client};
    }
  }
  return std::nullopt;
}

bool SendCloseAndWait(const TWindowHandle& window, std::chrono::milliseconds timeout) {
  const DisplayPtr display = OpenDisplay();
  if (!display) return false;
  Display* d = display.get();
  const ScopedErrorTrap trap(d);
  const Atoms atoms(d);
  const Window w = static_cast<Window>(window.id);
  const auto deadline = std::chrono::steady_clock::now() + timeout;

  // Listen before asking and look only after listening, so that a window that goes in between
  // is not missed.
  XSelectInput(d, w, StructureNotifyMask | PropertyChangeMask);
  XSync(d, False);
  if (!IsPresent(d, atoms, w)) return true;

  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = w;
  request.xclient.message_type = atoms.wmProtocols;
  request.xclient.format = 32;
  request.xclient.data.l[0] = static_cast<long>(atoms.wmDeleteWindow);
  request.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &request);
  XFlush(d);

  for (;;) {
    while (XPending(d) > 0) {
      XEvent event{};
      XNextEvent(d, &event);
      switch (event.type) {
        case DestroyNotify:
          if (event.xdestroywindow.window == w) return true;
          break;
        case UnmapNotify:
        case PropertyNotify:
          // An unmap alone may be a minimise; the window manager's WM_STATE change that follows
          // a withdrawal is what tells the two apart.
          if (event.xany.window == w && !IsPresent(d, atoms, w)) return true;
          break;
        default:
          break;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return !IsPresent(d, atoms, w);
    pollfd connection{ConnectionNumber(d), POLLIN, 0};
    const int waitMs = static_cast<int>(std::min<int64_t>(left.count(), 60'000));
    const int ready = ::poll(&connection, 1, waitMs);
    if (ready < 0 && errno != EINTR) return !IsPresent(d, atoms, w);
  }
}

}  // namespace lumen
