// The folder part of Windows and POSIX paths, and the program's own path.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace lumen {
namespace {

TEST(ExtractFilePath, CutsAfterTheLastSeparatorAndKeepsIt) {
  struct Case {
    std::string path, folder;
  } cases[] = {
      {"C:\\Tools\\updater.exe", "C:\\Tools\\"},
      {"D:\\updater.exe", "D:\\"},
      {"D:updater.exe", "D:"},
      {"\\\\server\\share\\updater.exe", "\\\\server\\share\\"},
      {"C:\\Tools/sub\\x", "C:\\Tools/sub\\"},
      {"/opt/lumen/lumen-updater", "/opt/lumen/"},
      {"/lumen-updater", "/"},
      {"/srv/a:b/updater", "/srv/a:b/"},
      {"/srv/dir/a:b", "/srv/dir/"},
      {"1:odd", ""},
      {"updater", ""},
      {"", ""},
      {"/opt/lumen/", "/opt/lumen/"},
      {"/opt/\xcf\xf0\xee\xe3/x", "/opt/\xcf\xf0\xee\xe3/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractFilePath(c.path), c.folder) << c.path;
}

TEST(OwnExecutablePath, IsTheRunningTestBinary) {
  const std::string path = OwnExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(path.ends_with("/test_platform")) << path;
  EXPECT_EQ(::access(path.c_str(), X_OK), 0);
}

}  // namespace
}  // namespace lumen
