// A top-level window owned by a separate process on the current $DISPLAY, set up the way a test
// needs it (title properties, window-manager state, how it answers a close request), so that
// code under test meets a real foreign window on a real X server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace lumen::test {

struct TestWindowSpec {
  enum class OnClose {
    kDestroy,   // destroys the window and exits, as an application quitting does
    kWithdraw,  // unmaps it (and marks it withdrawn when framed), as hiding to a tray does
    kMinimise,  // marks it iconic and unmaps it, as a window manager's minimise does
    kIgnore     // does nothing
  };
  enum class NameType { kString, kUtf8String };

  std::optional<std::string> netWmName;  // _NET_WM_NAME, UTF-8
  std::optional<std::string> wmName;     // WM_NAME bytes, of type `wmNameType`
  NameType wmNameType = NameType::kString;
  // Placed inside a frame window with WM_STATE on the client, as a reparenting window manager
  // arranges it; `wmState` is then the ICCCM state (1 normal, 3 iconic, 0 withdrawn), and the
  // frame is mapped unless the state is iconic or withdrawn.
  bool framed = false;
  long wmState = 1;
  bool mapped = true;
  OnClose onClose = OnClose::kDestroy;
};

class TestWindowProcess {
 public:
  // Returns once the window exists with all its properties (and is mapped if asked).
  // Throws std::runtime_error when the child cannot set it up.
  explicit TestWindowProcess(const TestWindowSpec& spec);
  // Kills the process if it is still running.
  ~TestWindowProcess();
  TestWindowProcess(const TestWindowProcess&) = delete;
  TestWindowProcess& operator=(const TestWindowProcess&) = delete;

  uint64_t Window() const noexcept { return window_; }
  uint64_t Frame() const noexcept { return frame_; }
  // Waits up to `seconds` for the window to report that a close request arrived.
  bool CloseRequestArrived(int seconds = 10);
  // Waits for the process to end; true when it exited normally with status 0 (after a destroy).
  bool ExitedCleanly();

 private:
  pid_t pid_ = -1;
  int events_ = -1;
  uint64_t window_ = 0;
  uint64_t frame_ = 0;
  bool reaped_ = false;
};

}  // namespace lumen::test
