// Driving real windows on a private virtual screen (tests/support/xvfb.h) as a person would:
// windows found by their titles (the UTF-8 title as well as the legacy one), clicks and keys
// through xdotool, and child processes that see that screen. Every wait polls against a deadline
// and throws when it passes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumen::gui {

using namespace std::chrono_literals;

// Whether a program is on PATH.
bool ProgramAvailable(const std::string& program);

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

// A connection to the display for looking at windows.
class XClient {
 public:
  explicit XClient(const std::string& display);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  // Titles of the mapped top-level windows, UTF-8.
  std::vector<std::string> Titles();
  std::optional<unsigned long> Find(const std::string& title);
  unsigned long WaitFor(const std::string& title, std::chrono::milliseconds timeout = 15s);
  // Returns whether the window was gone before the deadline.
  bool WaitGone(const std::string& title, std::chrono::milliseconds timeout = 15s);
  Rect Geometry(unsigned long window);  // in screen coordinates
  Rect Screen();
  // Width and height of each picture in the window's icon (_NET_WM_ICON).
  std::vector<std::pair<int, int>> IconSizes(unsigned long window);
  // What a window manager sends when the user presses the close button.
  void RequestClose(unsigned long window);

 private:
  std::string Title(unsigned long window);
  // The mapped top-level windows.
  std::vector<unsigned long> ViewableWindows();
  void* display_;  // Display*, kept opaque so users need no X11 headers
};

// Runs xdotool with DISPLAY set and waits for it; throws when it fails.
void Xdotool(const std::string& display, const std::vector<std::string>& args);
// A left click at a point of the window, given in the window's own coordinates.
void ClickAt(const std::string& display, XClient& x, unsigned long window, int left, int top);
// Gives the window the keyboard focus and presses the keys (xdotool key names).
void PressKeys(const std::string& display, unsigned long window,
               const std::vector<std::string>& keys);

// A child process with DISPLAY set; killed on destruction if it still runs.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& display,
               const std::string& workingDir = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // The exit status once it has ended before the deadline.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = 15s);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Saves a picture of the whole screen (ImageMagick's import).
void Screenshot(const std::string& display, const std::string& pngPath);

}  // namespace lumen::gui
