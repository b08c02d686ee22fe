// File tests and the installation's file replacement: contents, permissions, links, and that a
// refused or failed write leaves the old file whole with nothing beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/system.h"
#include "tests/support/scratch_dir.h"

namespace lumen {
namespace {

using test::ReadTextFile;
using test::ScratchDir;
using test::WriteTextFile;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Bytes that are not text: zeros, high bytes, and no trailing line feed.
std::string Binary(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed) >> 3);
  return s;
}

void Replace(const std::string& path, const std::string& bytes) {
  ReplaceFileContents(path, bytes.data(), bytes.size());
}

// ---- FileExists ----

TEST(FileExists, OnlyRegularFilesCount) {
  ScratchDir dir;
  WriteTextFile(dir / "file", "x");
  ::mkdir((dir / "folder").c_str(), 0755);
  ASSERT_EQ(::symlink("file", (dir / "link-to-file").c_str()), 0);
  ASSERT_EQ(::symlink("folder", (dir / "link-to-folder").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
  const struct {
    std::string path;
    bool exists;
  } cases[] = {
      {dir / "file", true},         {dir / "link-to-file", true},
      {dir / "folder", false},      {dir / "link-to-folder", false},
      {dir / "dangling", false},    {dir / "missing", false},
      {dir / "file/inside", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(FileExists(c.path), c.exists) << c.path;
}

// ---- ReplaceFileContents: success ----

struct ReplaceCase {
  const char* name;
  std::optional<std::string> old;  // nullopt: no file before
  mode_t oldMode;
  std::string fresh;
  mode_t expectedMode;
};
void PrintTo(const ReplaceCase& c, std::ostream* os) {
  *os << c.name;
}

class ReplaceFileContentsTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceFileContentsTest, LeavesExactlyTheNewBytesWithTheRightPermissions) {
  const ReplaceCase& c = GetParam();
  ScratchDir dir;
  const std::string target = dir / "Lumen_Courier.exe";
  if (c.old) {
    WriteTextFile(target, *c.old);
    ASSERT_EQ(::chmod(target.c_str(), c.oldMode), 0);
  }
  // The result must not depend on the process's umask.
  const mode_t savedMask = ::umask(077);
  Replace(target, c.fresh);
  ::umask(savedMask);

  EXPECT_EQ(ReadTextFile(target), c.fresh);
  EXPECT_EQ(ModeOf(target), c.expectedMode);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"Lumen_Courier.exe"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReplaceFileContentsTest,
    ::testing::Values(
        ReplaceCase{"NewFileIsExecutable", std::nullopt, 0, Binary(70000, 1), 0755},
        ReplaceCase{"ShorterOverLongerKeeps0750", Binary(90000, 2), 0750, Binary(1000, 3), 0750},
        ReplaceCase{"LongerOverShorterKeeps0644", "old", 0644, Binary(50000, 4), 0644},
        ReplaceCase{"SetIdBitsAreNotCarriedOver", "old", 06755, Binary(100, 5), 0755},
        ReplaceCase{"EmptyContentsGiveAnEmptyFile", Binary(4096, 6), 0700, "", 0700}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplaceFileContents, ThroughASymbolicLinkReplacesItsTargetAndKeepsTheLink) {
  ScratchDir dir;
  ::mkdir((dir / "releases").c_str(), 0755);
  const std::string real = dir / "releases/Lumen_Courier.exe";
  WriteTextFile(real, "old program");
  ::chmod(real.c_str(), 0750);
  const std::string link = dir / "Lumen_Courier.exe";
  ASSERT_EQ(::symlink("releases/Lumen_Courier.exe", link.c_str()), 0);

  Replace(link, "new program");

  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadTextFile(real), "new program");
  EXPECT_EQ(ModeOf(real), 0750u);
  EXPECT_EQ(dir.List(dir / "releases"), std::vector<std::string>{"Lumen_Courier.exe"});
}

// ---- ReplaceFileContents: failures ----

template <typename E>
void ExpectRaisesNaming(const std::string& path, const std::string& bytes) {
  try {
    Replace(path, bytes);
    ADD_FAILURE() << "no exception for " << path;
  } catch (const E& e) {
    EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
  } catch (const Exception& e) {
    ADD_FAILURE() << "wrong exception: " << e.Message();
  }
}

TEST(ReplaceFileContents, RefusedCreationRaisesAndLeavesTheFolderAsItWas) {
  ScratchDir dir;
  WriteTextFile(dir / "plain-file", "not a folder");
  ::mkdir((dir / "Lumen_Courier.exe").c_str(), 0755);
  WriteTextFile(dir / "Lumen_Courier.exe/inside", "kept");
  const std::vector<std::string> before = dir.List();
  for (const std::string& path :
       {dir / "missing-folder/Lumen_Courier.exe", dir / "plain-file/Lumen_Courier.exe",
        dir / "Lumen_Courier.exe", dir / "Lumen_Courier.exe/"}) {
    SCOPED_TRACE(path);
    ExpectRaisesNaming<EFOpenError>(path, "new program");
    EXPECT_EQ(dir.List(), before);
  }
  EXPECT_EQ(ReadTextFile(dir / "plain-file"), "not a folder");
  EXPECT_EQ(dir.List(dir / "Lumen_Courier.exe"), std::vector<std::string>{"inside"});
}

// Runs `body` in a forked child and returns its exit code: the failures below need the process
// itself to be limited (its file size, its user), which must not leak into the test runner.
int InChild(const std::function<void()>& prepare, const std::string& target,
            const std::string& bytes) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    prepare();
    int code = 0;
    try {
      Replace(target, bytes);
      code = 1;
    } catch (const EWriteError& e) {
      code = e.Message().find(target) != std::string::npos ? 10 : 2;
    } catch (const EFOpenError& e) {
      code = e.Message().find(target) != std::string::npos ? 11 : 2;
    } catch (...) {
      code = 3;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(ReplaceFileContents, DiskFullMidWriteKeepsTheOldFileByteForByte) {
  ScratchDir dir;
  const std::string target = dir / "Lumen_Courier.exe";
  const std::string old = Binary(20000, 7);
  WriteTextFile(target, old);
  ::chmod(target.c_str(), 0755);

  // A file-size limit makes the kernel refuse the write part-way, as a full disk does; with the
  // signal ignored the write fails with EFBIG instead of killing the process.
  const int code = InChild(
      [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      },
      target, Binary(65536, 8));
  EXPECT_EQ(code, 10) << "expected EWriteError naming the file";
  EXPECT_EQ(ReadTextFile(target), old);
  EXPECT_EQ(ModeOf(target), 0755u);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"Lumen_Courier.exe"});
}

TEST(ReplaceFileContents, UnwritableFolderKeepsTheOldFileAndLeavesNoTemporary) {
  ScratchDir dir;
  const std::string folder = dir / "install";
  ::mkdir(folder.c_str(), 0755);
  const std::string target = folder + "/Lumen_Courier.exe";
  WriteTextFile(target, "old program");
  ::chmod(target.c_str(), 0644);
  ::chmod(dir.Path().c_str(), 0755);

  // Permission bits do not stop root, so as root the child becomes an ordinary user; otherwise
  // the folder is made read-only.
  const bool root = ::geteuid() == 0;
  if (!root) ::chmod(folder.c_str(), 0555);
  const int code = InChild(
      [root] {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(4);
      },
      target, "new program");
  EXPECT_EQ(code, 11) << "expected EFOpenError naming the file";
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(ReadTextFile(target), "old program");
  EXPECT_EQ(dir.List(folder), std::vector<std::string>{"Lumen_Courier.exe"});
}

}  // namespace
}  // namespace lumen
