// Watches one file for being opened, through inotify, so a test can show that the program did
// (or did not) read a file, not merely that it reached the same outcome.
#pragma once

#include <string>

namespace lumen::test {

class TFileOpenWatch {
 public:
  // The file need not exist yet; its folder must.
  explicit TFileOpenWatch(const std::string& path);
  ~TFileOpenWatch();
  TFileOpenWatch(const TFileOpenWatch&) = delete;
  TFileOpenWatch& operator=(const TFileOpenWatch&) = delete;

  // Whether the file was opened since the watch began. The kernel queues the event inside the
  // open call itself, so an open that has returned is always seen.
  bool Opened();

 private:
  int fd_ = -1;
  std::string name_;
  bool opened_ = false;
};

}  // namespace lumen::test
