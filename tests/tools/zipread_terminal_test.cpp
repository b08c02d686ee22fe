// zipread asking for a password on a real terminal (a pseudo-terminal the test drives): the typed
// text is not echoed, a wrong password is asked again, and the right one opens every entry.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tool_runner.h"

namespace lumen::test {
namespace {

// The child on the other side of a pseudo-terminal, which is its controlling terminal and its
// standard input, output and error.
class TTerminalChild {
 public:
  explicit TTerminalChild(const std::vector<std::string>& args) {
    std::vector<std::string> argvStrings = args;
    std::vector<char*> argv;
    for (std::string& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~TTerminalChild() {
    if (master_ >= 0) ::close(master_);
    if (pid_ > 0) Wait();
  }

  bool Started() const { return pid_ > 0; }

  // Reads until text has appeared in everything read so far, or the child closed the terminal.
  // A generous poll limit only turns a hang into a failure; it measures nothing.
  bool ReadUntil(const std::string& text) {
    while (seen_.find(text, consumed_) == std::string::npos) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) return false;
      char buffer[4096];
      const ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // EIO once the child has gone
      seen_.append(buffer, static_cast<size_t>(got));
    }
    consumed_ = seen_.find(text, consumed_) + text.size();
    return true;
  }
  void ReadToEnd() {
    while (ReadUntil("\x01never\x01")) {
    }
  }
  void Type(const std::string& text) {
    ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  int Wait() {
    int status = 0;
    if (pid_ > 0) {
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return exitCode_;
  }
  const std::string& Seen() const { return seen_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  int exitCode_ = -1;
  std::string seen_;
  size_t consumed_ = 0;
};

TEST(ZipreadTerminalTest, AsksWithoutEchoUntilThePasswordIsRight) {
  TTerminalChild child({ToolPath("zipread"), "test", CorpusPath("generated/izip-zipcrypto.zip")});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.ReadUntil("Password for readme.txt: ")) << child.Seen();
  child.Type("not-it\n");
  ASSERT_TRUE(child.ReadUntil("Wrong password. Password for readme.txt: ")) << child.Seen();
  child.Type("secret\n");
  child.ReadToEnd();
  EXPECT_EQ(child.Wait(), 0) << child.Seen();
  // The password, once right, serves the later entries without asking again.
  for (const char* line : {"readme.txt\tok", "random.bin\tok", "empty.txt\tok", "tiny.txt\tok"}) {
    EXPECT_NE(child.Seen().find(line), std::string::npos) << child.Seen();
  }
  EXPECT_EQ(child.Seen().find("Password for random.bin"), std::string::npos) << child.Seen();
  EXPECT_EQ(child.Seen().find("not-it"), std::string::npos) << "typed text was echoed";
  EXPECT_EQ(child.Seen().find("secret"), std::string::npos) << "typed text was echoed";
}

TEST(ZipreadTerminalTest, AnEmptyAnswerGivesUpOnTheEntry) {
  TTerminalChild child(
      {ToolPath("zipread"), "extract", CorpusPath("generated/7z-aes256-deflate.zip"), "tiny.txt"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.ReadUntil("Password for tiny.txt: ")) << child.Seen();
  child.Type("\n");
  child.ReadToEnd();
  EXPECT_EQ(child.Wait(), 1);
  EXPECT_NE(child.Seen().find("no password given"), std::string::npos) << child.Seen();
}

}  // namespace
}  // namespace lumen::test
