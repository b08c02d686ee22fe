// Starting the new program: it runs on its own, without arguments, without our descriptors,
// and the call neither waits for it nor leaves a child behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "tests/support/scratch_dir.h"

namespace lumen {
namespace {

using test::ReadTextFile;
using test::ScratchDir;
using test::WriteTextFile;

// A descriptor number the started program would only have if it inherited ours.
constexpr int kMarkerFd = 77;

// Waits for a file the started program writes; bounded so that a program that never ran fails
// the test instead of hanging it.
bool AwaitFile(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    if (::access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

pid_t ParentOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string statLine;
  std::getline(stat, statLine);
  // The command name may hold spaces; the fields after its closing parenthesis are fixed.
  std::istringstream fields(statLine.substr(statLine.rfind(')') + 2));
  char state = 0;
  pid_t parent = 0;
  fields >> state >> parent;
  return parent;
}

TEST(ShellOpen, StartsTheProgramDetachedWithNoArgumentsAndDoesNotWait) {
  ScratchDir dir;
  const std::string program = dir / "Lumen_Courier.exe";
  const std::string report = dir / "report";
  const std::string gate = dir / "gate";
  const std::string finished = dir / "finished";
  ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
  // The program reports what it was given, then cannot finish until the test opens the gate.
  WriteTextFile(program,
                "#!/bin/sh\n"
                "{ echo \"$#\"; echo \"$$\"; echo \"$0\";\n"
                "  if [ -e /proc/$$/fd/" +
                    std::to_string(kMarkerFd) +
                    " ]; then echo leaked; else echo clean; fi;\n"
                    "  for a in \"$@\"; do echo \"arg:$a\"; done; } > '" +
                    report +
                    ".tmp'\n"
                    "mv '" +
                    report + ".tmp' '" + report +
                    "'\n"
                    "read line < '" +
                    gate +
                    "'\n"
                    "echo done > '" +
                    finished + "'\n");
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);

  // A descriptor without close-on-exec, as a library might leave open.
  const int marker = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(marker, 0);
  ASSERT_EQ(::dup2(marker, kMarkerFd), kMarkerFd);
  ::close(marker);

  ASSERT_TRUE(ShellOpen(program));
  ::close(kMarkerFd);

  // Returned while the program is still blocked on the gate, and nothing is left for us to reap.
  EXPECT_NE(::access(finished.c_str(), F_OK), 0);
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  ASSERT_TRUE(AwaitFile(report));
  const std::vector<std::string> lines = Lines(ReadTextFile(report));
  ASSERT_EQ(lines.size(), 4u) << ReadTextFile(report);
  EXPECT_EQ(lines[0], "0");
  EXPECT_EQ(lines[2], program);
  EXPECT_EQ(lines[3], "clean");
  const pid_t started = std::stoi(lines[1]);
  EXPECT_NE(ParentOf(started), ::getpid());
  EXPECT_NE(::getsid(started), ::getsid(0));

  {
    std::ofstream open(gate);
    open << "go\n";
  }
  EXPECT_TRUE(AwaitFile(finished));
}

TEST(ShellOpen, ReportsWhatCannotBeStarted) {
  ScratchDir dir;
  WriteTextFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
  ::chmod((dir / "not-executable").c_str(), 0644);
  ::mkdir((dir / "folder").c_str(), 0755);
  WriteTextFile(dir / "bad-interpreter", "#!/nonexistent/shell\n");
  ::chmod((dir / "bad-interpreter").c_str(), 0755);
  for (const std::string& path : {dir / "missing", dir / "not-executable", dir / "folder",
                                  dir / "bad-interpreter", std::string()}) {
    EXPECT_FALSE(ShellOpen(path)) << path;
  }
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace lumen
