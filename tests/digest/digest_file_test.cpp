// Digest of files: content, the single read of a 4096-byte file, and the open failures of a
// missing file and of a file held by a conflicting opener.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "digest/md5.h"
#include "md5_test_support.h"
#include "platform/exceptions.h"
#include "platform/stream.h"

namespace lumen {
namespace {

using testing_md5::PatternBytes;
using testing_md5::ProbeStream;
using testing_md5::ReferenceDigest;

class DigestFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "digest_file_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + name;
    TFileStream out(path, TFileMode::fmCreate);
    out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return path;
  }

  std::string dir_;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(DigestFileTest, FilesOfAssortedSizesMatchTheReference) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{4097}, size_t{70001}}) {
    SCOPED_TRACE(size);
    const std::string bytes = PatternBytes(size, static_cast<uint32_t>(size) + 1);
    const std::string path = WriteFile("f" + std::to_string(size) + ".exe", bytes);
    const DigestValue expected = ReferenceDigest(bytes.data(), bytes.size());
    EXPECT_EQ(DigestFile(path), expected);
    EXPECT_EQ(GetMD5_File(path), Lower(DigestToHex(expected)));
  }
  EXPECT_EQ(GetMD5_File(WriteFile("empty", "")), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(DigestFileTest, FileOfExactly4096BytesIsReadOnce) {
  const std::string bytes = PatternBytes(4096, 23);
  const std::string path = WriteFile("Lumen_Courier.exe", bytes);
  TFileStream file(path, TFileMode::fmOpenReadExclusive);
  ProbeStream probe(file);
  EXPECT_EQ(DigestStream(probe), ReferenceDigest(bytes.data(), bytes.size()));
  EXPECT_EQ(probe.reads, 1);
  EXPECT_EQ(file.Position(), 0);
}

TEST_F(DigestFileTest, UnopenableFilesRaiseFileOpenErrorNamingTheFile) {
  const std::string missing = dir_ + "no-such-file.exe";
  const std::string folder = dir_ + "folder";
  std::filesystem::create_directory(folder);
  for (const std::string& path : {missing, folder}) {
    SCOPED_TRACE(path);
    try {
      GetMD5_File(path);
      FAIL() << "expected EFOpenError";
    } catch (const EFOpenError& e) {
      EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
  }
}

// Ways another party can hold the file so that an exclusive open must fail.
struct Holder {
  const char* name;
  std::function<std::shared_ptr<void>(const std::string&)> hold;
};

std::shared_ptr<void> HoldWithFlock(const std::string& path, int operation) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::flock(fd, operation | LOCK_NB) != 0) {
    ADD_FAILURE() << "could not lock " << path << ": " << std::strerror(errno);
  }
  return std::shared_ptr<void>(nullptr, [fd](void*) {
    if (fd >= 0) ::close(fd);
  });
}

TEST_F(DigestFileTest, FileHeldByConflictingOpenerRaisesAndIsFreeAfterwards) {
  const Holder holders[] = {
      {"exclusive file stream",
       [](const std::string& p) {
         return std::static_pointer_cast<void>(
             std::make_shared<TFileStream>(p, TFileMode::fmOpenReadExclusive));
       }},
      {"exclusive flock", [](const std::string& p) { return HoldWithFlock(p, LOCK_EX); }},
      {"shared flock", [](const std::string& p) { return HoldWithFlock(p, LOCK_SH); }},
  };
  const std::string bytes = PatternBytes(5000, 29);
  const std::string path = WriteFile("held.exe", bytes);
  const std::string expected = Lower(DigestToHex(ReferenceDigest(bytes.data(), bytes.size())));
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.name);
    {
      std::shared_ptr<void> held = holder.hold(path);
      EXPECT_THROW(GetMD5_File(path), EFOpenError);
    }
    EXPECT_EQ(GetMD5_File(path), expected);
  }
}

TEST_F(DigestFileTest, DigestReleasesTheFileWhenDone) {
  const std::string path = WriteFile("twice.exe", "abc");
  EXPECT_EQ(GetMD5_File(path), "900150983cd24fb0d6963f7d28e17f72");
  // A lock left behind by the first digest would make this exclusive open fail.
  EXPECT_NO_THROW(TFileStream(path, TFileMode::fmOpenReadExclusive));
  EXPECT_EQ(GetMD5_File(path), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace lumen
