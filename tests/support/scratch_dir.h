// A fresh, private folder for one test, removed with everything in it afterwards. It lives under
// the build folder rather than /tmp, so that programs written there may be executed even where
// /tmp is mounted noexec.
#pragma once

#include <string>
#include <vector>

namespace lumen::test {

class ScratchDir {
 public:
  ScratchDir();  // throws std::runtime_error when the folder cannot be made
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const noexcept { return path_; }
  // `name` inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Names directly inside `folder` (default: this folder), sorted.
  std::vector<std::string> List(const std::string& folder = {}) const;

 private:
  std::string path_;
};

// Whole-file helpers for tests; they throw std::runtime_error on failure.
void WriteTextFile(const std::string& path, const std::string& bytes);
std::string ReadTextFile(const std::string& path);

}  // namespace lumen::test
