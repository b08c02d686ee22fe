// publish-release run as a program: the pair it writes reads back through zipread as the updater
// would read it, a republish replaces the pair, and every refusal leaves the folder as it was.
// The check mode is held against pairs damaged in each way the updater would mishandle.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace lumen::test {
namespace {

const char kZip[] = "Lumen_Courier.zip";
const char kMd5[] = "update.md5";
const char kExe[] = "Lumen_Courier.exe";

std::string TextOf(size_t size) {
  std::string s;
  for (size_t i = 0; s.size() < size; ++i) s += "record " + std::to_string(i % 89) + ";\n";
  s.resize(size);
  return s;
}

class PublishReleaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.Path();
    out_ = root_ + "/out";
    std::filesystem::create_directory(out_);
  }

  std::string Input(const std::string& name, const std::string& bytes) {
    const std::string path = root_ + "/" + name;
    WriteTextFile(path, bytes);
    return path;
  }
  TRunResult Publish(const std::vector<std::string>& args) {
    return RunProgram(ToolPath("publish-release"), args);
  }
  TRunResult Check(const std::string& folder) { return Publish({"--check", folder}); }
  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : scratch_.List(folder)) {
      const std::string path = folder + "/" + name;
      files[name] = std::filesystem::is_directory(path) ? "<folder>" : ReadTextFile(path);
    }
    return files;
  }

  ScratchDir scratch_;
  std::string root_;
  std::string out_;
};

TEST_F(PublishReleaseTest, PublishedPairReadsBackAsTheUpdaterReadsIt) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"one byte", "M"},
      {"incompressible", NoiseOf(300000, 3)},
      // Larger than the reader's 1 MiB input chunk, so decoding spans several chunks.
      {"compressible, several chunks", TextOf(3 * 1024 * 1024 + 17)},
      {"mixed", TextOf(100000) + NoiseOf(100000, 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string exe = Input("build.exe", c.bytes);
    const std::string md5 = ReferenceMd5Hex(c.bytes);
    const TRunResult published = Publish({exe, out_});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    EXPECT_NE(published.out.find(md5), std::string::npos) << published.out;

    EXPECT_EQ(scratch_.List(out_), (std::vector<std::string>{kZip, kMd5}));
    EXPECT_EQ(ReadTextFile(out_ + "/" + kMd5), md5);
    const std::string archive = out_ + "/" + kZip;
    // One local header and one central header with the name, and the end record.
    const uint64_t packed = ReadTextFile(archive).size() - (30 + 46 + 2 * 17 + 22);
    const TRunResult listed = RunProgram(ToolPath("zipread"), {"list", archive});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, std::string(kExe) + "\t8\t" + std::to_string(c.bytes.size()) + "\t" +
                              std::to_string(packed) + "\t" + ReferenceCrc32Hex(c.bytes) + "\t-\n");
    const TRunResult extracted = RunProgram(ToolPath("zipread"), {"extract", archive, kExe});
    EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_TRUE(extracted.out == c.bytes) << "extracted bytes differ";

    const TRunResult checked = Check(out_);
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
    EXPECT_EQ(checked.out, "ok\t" + md5 + "\n");
  }
}

TEST_F(PublishReleaseTest, PublishedFilesAreReadableByTheWebServer) {
  ASSERT_EQ(Publish({Input("a.exe", "first build"), out_}).exitCode, 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (const char* name : {kZip, kMd5}) {
    struct stat st {};
    ASSERT_EQ(::stat((out_ + "/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << name;
  }
}

// The entry carries the build's modification time in the DOS form, in both headers.
TEST_F(PublishReleaseTest, EntryIsStampedWithTheBuildsModificationTime) {
  const std::string exe = Input("stamped.exe", TextOf(3000));
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 14;
  local.tm_min = 7;
  local.tm_sec = 22;
  local.tm_isdst = -1;
  const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, exe.c_str(), times, 0), 0);
  ASSERT_EQ(Publish({exe, out_}).exitCode, 0);

  const std::string zip = ReadTextFile(out_ + "/" + kZip);
  auto u16 = [&zip](size_t at) {
    return static_cast<unsigned>(static_cast<uint8_t>(zip[at]) | static_cast<uint8_t>(zip[at + 1])
                                                                     << 8);
  };
  const unsigned dosTime = 14 << 11 | 7 << 5 | 22 / 2;
  const unsigned dosDate = (2024 - 1980) << 9 | 3 << 5 | 5;
  const size_t central = zip.size() - 22 - (46 + 17);
  EXPECT_EQ(u16(10), dosTime);
  EXPECT_EQ(u16(12), dosDate);
  EXPECT_EQ(u16(central + 12), dosTime);
  EXPECT_EQ(u16(central + 14), dosDate);
}

TEST_F(PublishReleaseTest, RepublishingReplacesThePair) {
  ASSERT_EQ(Publish({Input("a.exe", TextOf(5000)), out_}).exitCode, 0);
  const std::string second = NoiseOf(4000, 5);
  const TRunResult r = Publish({Input("b.exe", second), out_});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(scratch_.List(out_), (std::vector<std::string>{kZip, kMd5}));
  EXPECT_EQ(ReadTextFile(out_ + "/" + kMd5), ReferenceMd5Hex(second));
  const TRunResult extracted =
      RunProgram(ToolPath("zipread"), {"extract", out_ + "/" + kZip, kExe});
  EXPECT_TRUE(extracted.out == second);
}

TEST_F(PublishReleaseTest, RefusalsLeaveThePreviousPairAsItWas) {
  ASSERT_EQ(Publish({Input("good.exe", TextOf(7000)), out_}).exitCode, 0);
  const std::map<std::string, std::string> before = Snapshot(out_);
  const std::string empty = Input("empty.exe", "");
  const std::string plainFile = Input("plain", "x");
  std::filesystem::create_directory(root_ + "/folder.exe");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {"missing executable", {root_ + "/missing.exe", out_}, "missing.exe"},
      {"empty executable", {empty, out_}, "empty"},
      {"executable is a folder", {root_ + "/folder.exe", out_}, "folder.exe"},
      {"missing output folder", {Input("b.exe", "b"), root_ + "/nowhere"}, "nowhere"},
      {"output folder is a file", {Input("c.exe", "c"), plainFile}, "not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TRunResult r = Publish(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(out_), before);
  }
}

TEST_F(PublishReleaseTest, AFailedSecondRenamePutsThePreviousArchiveBack) {
  // A folder where update.md5 should go makes renaming the new digest into place fail after the
  // new archive is already in place.
  const std::string old = TextOf(6000);
  ASSERT_EQ(Publish({Input("old.exe", old), out_}).exitCode, 0);
  std::filesystem::remove(out_ + "/" + kMd5);
  std::filesystem::create_directories(out_ + "/" + kMd5 + "/blocker");
  const std::map<std::string, std::string> before = Snapshot(out_);

  const TRunResult r = Publish({Input("new.exe", NoiseOf(5000, 11)), out_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("previous files are unchanged"), std::string::npos) << r.err;
  EXPECT_EQ(Snapshot(out_), before);

  // Without an earlier archive, the new one is taken away again.
  std::filesystem::remove(out_ + "/" + kZip);
  const TRunResult fresh = Publish({Input("new.exe", NoiseOf(5000, 11)), out_});
  EXPECT_EQ(fresh.exitCode, 1);
  EXPECT_EQ(scratch_.List(out_), std::vector<std::string>{kMd5});
}

// Pairs the updater would mishandle, each made by damaging or replacing one file of a good pair;
// and pairs made by another writer that the updater handles, which pass.
TEST_F(PublishReleaseTest, CheckRefusesEveryPairTheUpdaterWouldMishandle) {
  const std::string build = TextOf(20000) + NoiseOf(3000, 2);
  const std::string md5 = ReferenceMd5Hex(build);
  ASSERT_EQ(Publish({Input("good.exe", build), out_}).exitCode, 0);
  const std::string goodZip = ReadTextFile(out_ + "/" + kZip);

  const std::string staging = root_ + "/staging";
  // An archive written by Info-ZIP zip holding the given file name and content.
  auto infoZip = [&](const std::string& entry, const std::string& content,
                     const std::vector<std::string>& options) {
    std::filesystem::remove_all(staging);
    return ReadTextFile(ZipWithInfoZip(staging, "made.zip", {{entry, content}}, options));
  };
  std::string flipped = goodZip;
  flipped[30 + 17 + 40] ^= 0x55;  // inside the deflate data
  std::string upper = md5;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  struct Case {
    const char* what;
    std::optional<std::string> zip;  // nullopt: the file is absent
    std::optional<std::string> digest;
    std::string reason;  // empty: the pair passes
  };
  const Case cases[] = {
      {"digest with a line break", goodZip, md5 + "\n", "after the digest"},
      {"digest with CR LF", goodZip, md5 + "\r\n", "a line break or spaces"},
      {"digest in upper case", goodZip, upper, "upper-case"},
      {"digest with a byte-order mark", goodZip, "\xEF\xBB\xBF" + md5, "exactly 32 hex digits"},
      {"digest cut short", goodZip, md5.substr(0, 31), "exactly 32 hex digits"},
      {"empty digest file", goodZip, "", "exactly 32 hex digits"},
      {"digest of another build", goodZip, ReferenceMd5Hex("another build"), "has MD5 " + md5},
      {"digest file missing", goodZip, std::nullopt, kMd5},
      {"archive missing", std::nullopt, md5, kZip},
      {"archive is an error page", "<html>502 Bad Gateway</html>", md5, "could not install"},
      {"damaged deflate data", flipped, md5, "could not install"},
      {"entry under another name", infoZip("Courier.exe", build, {}), md5, "not found"},
      {"encrypted entry", infoZip(kExe, build, {"-P", "pw"}), md5, "encrypted"},
      {"empty entry", infoZip(kExe, "", {}), ReferenceMd5Hex(""), "empty"},
      {"made by Info-ZIP", infoZip(kExe, build, {}), md5, ""},
      {"entry name in other letter case", infoZip("lumen_courier.EXE", build, {}), md5, ""},
  };
  const std::string folder = root_ + "/pair";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    if (c.zip) WriteTextFile(folder + "/" + kZip, *c.zip);
    if (c.digest) WriteTextFile(folder + "/" + kMd5, *c.digest);
    const TRunResult r = Check(folder);
    if (c.reason.empty()) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, "ok\t" + *c.digest + "\n");
      continue;
    }
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
}

TEST_F(PublishReleaseTest, BadUsageExitsWithTwo) {
  const std::string exe = Input("a.exe", "a");
  const std::vector<std::vector<std::string>> cases = {
      {}, {exe}, {exe, out_, out_}, {"--verify", out_}, {"--check"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.size());
    const TRunResult r = Publish(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(scratch_.List(out_).empty());
}

}  // namespace
}  // namespace lumen::test
