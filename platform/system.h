// System calls the installation needs: find the companion program's window and ask it to close,
// start a program, test for a file, and replace a file's contents safely.
//
// Texts are 8-bit ANSI (Windows-1251). File paths are passed to the kernel as they are.
// Every call here runs on the user-interface thread; the window calls open their own short-lived
// connection to the X server named by $DISPLAY, so they never disturb the toolkit's connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lumen {

// Identity of a top-level window on the X server named by $DISPLAY (the client window's XID,
// not a window manager's frame). Holds no connection and needs no release.
struct TWindowHandle {
  uint64_t id = 0;
  friend bool operator==(const TWindowHandle&, const TWindowHandle&) = default;
};

// The first top-level window, from the top of the stacking order, whose title is exactly `title`.
// The title is read from _NET_WM_NAME (UTF-8) and, when a window has none, from WM_NAME.
// A window counts while it is shown or minimised; a withdrawn one does not.
// No display, or no such window: nullopt. Never raises.
std::optional<TWindowHandle> FindTopLevelWindow(const std::string& title);

// Asks the window to close (WM_DELETE_WINDOW) and waits until it is destroyed or withdrawn, at
// most `timeout`. True when the window is gone, also when it had gone before the request; false
// when it is still there after the timeout or there is no display. Never raises.
bool SendCloseAndWait(const TWindowHandle& window,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Starts the executable at `path` as a new process in its own session, with no arguments
// (argv[0] is the path), the caller's environment and working folder, and no inherited file
// descriptors beyond 0-2. Does not wait for it and leaves no child behind. True when the program
// was started; false when it could not be (missing, not executable, out of processes).
bool ShellOpen(const std::string& path);

// True only for an existing regular file (following symbolic links); folders do not count.
bool FileExists(const std::string& path);

// Makes `path` hold exactly `size` bytes from `bytes`, atomically: the bytes go to a temporary
// file in the same folder, which is flushed, given the old file's permission bits (0755 for a new
// file) and renamed over `path`. A symbolic link at `path` keeps pointing where it did; the file
// it points to is the one replaced. On failure the old file is untouched, no temporary file is
// left, and EFOpenError (cannot create or replace) or EWriteError (cannot write or flush) is
// raised, naming `path`.
void ReplaceFileContents(const std::string& path, const void* bytes, size_t size);

}  // namespace lumen
