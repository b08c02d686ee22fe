// A private X server for tests that need real windows: starts Xvfb on a display no one else
// uses, points $DISPLAY at it while alive, and stops it afterwards.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace lumen::test {

class ScopedXvfb {
 public:
  // Returns once the server accepts connections. Throws std::runtime_error when Xvfb cannot be
  // started (not installed, or it exits at once).
  ScopedXvfb();
  ~ScopedXvfb();
  ScopedXvfb(const ScopedXvfb&) = delete;
  ScopedXvfb& operator=(const ScopedXvfb&) = delete;

  // The display name, such as ":3", as $DISPLAY now holds it.
  const std::string& DisplayName() const noexcept { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::optional<std::string> previousDisplay_;
};

}  // namespace lumen::test
