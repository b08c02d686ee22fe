// zipread run as a program: its listing against the corpus manifest, extraction by the updater's
// lookup rules to a file and to standard output, testing with and without passwords, archives
// made by Info-ZIP zip at test time, and the exit status of every kind of outcome.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/corpus_manifest.h"
#include "tests/support/zip_builder.h"
#include "tool_runner.h"

namespace lumen::test {
namespace {

TRunResult Zipread(const std::vector<std::string>& args) {
  return RunProgram(ToolPath("zipread"), args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

const std::vector<testing::ManifestEntry>& Entries(const std::string& archive) {
  return testing::ManifestFor(archive).entries;
}

std::string ListLine(const testing::ManifestEntry& e) {
  return e.nameGuess + "\t" + std::to_string(e.method) + "\t" + std::to_string(e.size) + "\t" +
         std::to_string(e.compressedSize) + "\t" + e.crc32 + "\t" +
         (e.encrypted ? "encrypted" : "-");
}

// Archives whose names every reader decodes alike: plain, stored, encrypted both ways, with a
// prefix (offsets adjusted or not), Zip64 records, UTF-8 names, folder entries, an entry "-".
const char* const kCorpusArchives[] = {
    "generated/izip-deflate.zip",        "generated/izip-stored.zip",
    "generated/izip-zipcrypto.zip",      "generated/7z-aes256-deflate.zip",
    "generated/7z-zipcrypto.zip",        "generated/izip-sfx-adjusted.exe",
    "generated/izip-sfx-unadjusted.exe", "generated/izip-force-zip64.zip",
    "generated/izip-stdin.zip",          "generated/7z-utf8-flag.zip",
    "generated/py-utf8-comment.zip",     "generated/izip-deflate-dirs.zip",
    "generated/izip-streamed-dd.zip",    "generated/bsdtar-zipcrypto.zip",
};

class ZipreadCorpusTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ZipreadCorpusTest, ListShowsTheCentralDirectoryLineByLine) {
  const std::vector<testing::ManifestEntry>& entries = Entries(GetParam());
  std::vector<std::string> expected;
  for (const testing::ManifestEntry& e : entries) expected.push_back(ListLine(e));
  const TRunResult r = Zipread({"list", CorpusPath(GetParam())});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Lines(r.out), expected);
}

TEST_P(ZipreadCorpusTest, EveryIntactEntryExtractsToStandardOutputWithItsDigest) {
  for (const testing::ManifestEntry& e : Entries(GetParam())) {
    if (e.isDir || !e.md5) continue;
    SCOPED_TRACE(e.nameGuess);
    // Passing "--" keeps a name such as "-" from being read as an option.
    const TRunResult r =
        Zipread({"extract", CorpusPath(GetParam()), "-p", "secret", "--", e.nameGuess});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.size(), e.size);
    EXPECT_EQ(ReferenceMd5Hex(r.out), *e.md5);
  }
}

TEST_P(ZipreadCorpusTest, TestWithThePasswordPassesEveryEntry) {
  std::vector<std::string> expected;
  for (const testing::ManifestEntry& e : Entries(GetParam()))
    expected.push_back(e.nameGuess + "\tok");
  const TRunResult r = Zipread({"test", CorpusPath(GetParam()), "-p", "secret"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Lines(r.out), expected);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ZipreadCorpusTest, ::testing::ValuesIn(kCorpusArchives));

TEST(ZipreadEncryptedTest, WithoutTheRightPasswordEveryEncryptedEntryFailsAndNothingIsWritten) {
  struct Case {
    const char* archive;
    std::vector<std::string> passwordArgs;
    const char* verdict;
  };
  const Case cases[] = {
      {"generated/izip-zipcrypto.zip", {}, "encrypted; give the password with -p"},
      {"generated/izip-zipcrypto.zip", {"-p", "wrong"}, "wrong password"},
      {"generated/7z-aes256-deflate.zip", {}, "encrypted; give the password with -p"},
      {"generated/7z-aes256-deflate.zip", {"-p", "Secret"}, "wrong password"},
  };
  const ScratchDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + (c.passwordArgs.empty() ? " without -p" : " wrong -p"));
    const std::vector<testing::ManifestEntry>& entries = Entries(c.archive);
    std::vector<std::string> testArgs = {"test", CorpusPath(c.archive)};
    testArgs.insert(testArgs.end(), c.passwordArgs.begin(), c.passwordArgs.end());
    const TRunResult tested = Zipread(testArgs);
    EXPECT_EQ(tested.exitCode, 1);
    std::vector<std::string> expected;
    for (const testing::ManifestEntry& e : entries)
      expected.push_back(e.nameGuess + "\t" + c.verdict);
    EXPECT_EQ(Lines(tested.out), expected);

    const std::string target = folder / "out.bin";
    std::vector<std::string> extractArgs = {"extract", CorpusPath(c.archive), entries[1].nameGuess,
                                            "-o", target};
    extractArgs.insert(extractArgs.end(), c.passwordArgs.begin(), c.passwordArgs.end());
    const TRunResult extracted = Zipread(extractArgs);
    EXPECT_EQ(extracted.exitCode, 1);
    EXPECT_NE(extracted.err.find(c.verdict), std::string::npos) << extracted.err;
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

// The name on the command line is found as the updater finds its entry: exact regardless of
// letter case first, then with "\" read as "/", then as a mask within one folder.
TEST(ZipreadLookupTest, NamesAreFoundByTheUpdatersRules) {
  struct Case {
    const char* archive;
    const char* name;
    const char* foundEntry;  // nullptr: nothing found
  };
  const Case cases[] = {
      {"generated/izip-deflate.zip", "README.TXT", "readme.txt"},
      {"generated/izip-deflate.zip", "docs\\sub\\notes.txt", "docs/sub/notes.txt"},
      {"generated/izip-deflate.zip", "*.BIN", "random.bin"},
      {"generated/izip-deflate.zip", "docs/sub/*", "docs/sub/notes.txt"},
      {"generated/izip-deflate.zip", "*.*", "readme.txt"},
      {"generated/izip-deflate.zip", "notes.txt", nullptr},
      {"generated/izip-deflate.zip", "readme.txt ", nullptr},
      {"generated/7z-utf8-flag.zip", "UNI/ПРИВЕТ.TXT", "uni/Привет.txt"},
      {"generated/7z-utf8-flag.zip", "uni/七个房间.txt", "uni/七个房间.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + " " + c.name);
    const TRunResult r = Zipread({"extract", CorpusPath(c.archive), c.name});
    if (c.foundEntry == nullptr) {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find(std::string("\"") + c.name + "\" not found"), std::string::npos)
          << r.err;
      continue;
    }
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const testing::ManifestEntry& e : Entries(c.archive)) {
      if (e.nameGuess == c.foundEntry) {
        EXPECT_EQ(ReferenceMd5Hex(r.out), e.md5.value_or(""));
      }
    }
  }
}

class ZipreadFolderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_ / name; }

  // An archive written by Info-ZIP zip in the test's folder.
  std::string ZipWithInfoZip(const std::string& archiveName,
                             const std::vector<std::pair<std::string, std::string>>& files,
                             const std::vector<std::string>& options = {}) {
    return test::ZipWithInfoZip(scratch_.Path(), archiveName, files, options);
  }

  ScratchDir scratch_;
};

std::string TextOf(size_t size) {
  std::string s;
  for (size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i % 97) + " of the text\n";
  s.resize(size);
  return s;
}

TEST_F(ZipreadFolderTest, InfoZipArchiveListsAndExtractsToFileAndStandardOutput) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text file.txt", TextOf(50000)},
      {"sub/noise.bin", NoiseOf(70000, 7)},
      {"sub/one.txt", "1"},
  };
  const std::string archive = ZipWithInfoZip("made.zip", files);

  const TRunResult listed = Zipread({"list", archive});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const std::vector<std::string> lines = Lines(listed.out);
  ASSERT_EQ(lines.size(), files.size()) << listed.out;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].first);
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = lines[i].find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(lines[i].substr(start, tab - start));
    }
    fields.push_back(lines[i].substr(start));
    ASSERT_EQ(fields.size(), 6u) << lines[i];
    EXPECT_EQ(fields[0], files[i].first);
    EXPECT_TRUE(fields[1] == "8" || fields[1] == "0") << fields[1];
    EXPECT_EQ(fields[2], std::to_string(files[i].second.size()));
    EXPECT_EQ(fields[4], ReferenceCrc32Hex(files[i].second));
    EXPECT_EQ(fields[5], "-");
  }
  // Text this compressible is always deflated.
  EXPECT_EQ(lines[0].rfind("text file.txt\t8\t", 0), 0u) << lines[0];

  for (const auto& [name, content] : files) {
    SCOPED_TRACE(name);
    const TRunResult toStdout = Zipread({"extract", archive, name});
    EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, content);
    const std::string target = Path("extracted.bin");
    const TRunResult toFile = Zipread({"extract", archive, name, "-o", target});
    EXPECT_EQ(toFile.exitCode, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadTextFile(target), content);
  }
}

TEST_F(ZipreadFolderTest, InfoZipEncryptedArchiveNeedsItsPassword) {
  const std::string content = TextOf(30000);
  const std::string archive =
      ZipWithInfoZip("locked.zip", {{"a.txt", content}, {"b.txt", "bee"}}, {"-P", "pa55 word"});

  const TRunResult without = Zipread({"test", archive});
  EXPECT_EQ(without.exitCode, 1);
  EXPECT_EQ(without.out,
            "a.txt\tencrypted; give the password with -p\n"
            "b.txt\tencrypted; give the password with -p\n");

  const TRunResult with = Zipread({"test", archive, "-p", "pa55 word"});
  EXPECT_EQ(with.exitCode, 0) << with.err;
  EXPECT_EQ(with.out, "a.txt\tok\nb.txt\tok\n");

  const TRunResult extracted = Zipread({"extract", "-p", "pa55 word", archive, "A.TXT"});
  EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_EQ(extracted.out, content);
}

// The updater's password prompt delivers Windows-1251 text, so a password typed as UTF-8 must
// reach the cipher as those bytes, and the UTF-8 bytes themselves must not open the archive.
TEST_F(ZipreadFolderTest, PasswordsReachTheCipherInTheUpdatersCodePage) {
  const std::string cp1251 = "\xEF\xE0\xF0\xEE\xEB\xFC";  // "пароль" in Windows-1251
  const std::string archive = ZipWithInfoZip("cyrillic.zip", {{"a.txt", "alpha"}}, {"-P", cp1251});
  const TRunResult right = Zipread({"test", archive, "-p", "пароль"});
  EXPECT_EQ(right.exitCode, 0) << right.out << right.err;
  EXPECT_EQ(right.out, "a.txt\tok\n");

  const std::string utf8Archive =
      ZipWithInfoZip("utf8-password.zip", {{"b.txt", "beta"}}, {"-P", "пароль"});
  const TRunResult utf8 = Zipread({"test", utf8Archive, "-p", "пароль"});
  // The traditional cipher's one check byte lets about one wrong password in 256 through to the
  // CRC check, so the refusal may name either.
  EXPECT_EQ(utf8.exitCode, 1);
  EXPECT_NE(utf8.out, "b.txt\tok\n");
}

TEST_F(ZipreadFolderTest, DamagedEntriesFailOnTheirOwnAndLeaveNoOutputFile) {
  // In the stored copy readme.txt is damaged; the other entries are intact.
  const std::string damaged = CorpusPath("generated/damaged/izip-stored.bad-crc.zip");
  const TRunResult tested = Zipread({"test", damaged});
  EXPECT_EQ(tested.exitCode, 1);
  const std::vector<std::string> lines = Lines(tested.out);
  ASSERT_EQ(lines.size(), 4u) << tested.out;
  EXPECT_EQ(lines[0].rfind("readme.txt\t", 0), 0u);
  EXPECT_NE(lines[0], "readme.txt\tok");
  EXPECT_NE(lines[0].find("check sum"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "random.bin\tok");
  EXPECT_EQ(lines[2], "empty.txt\tok");
  EXPECT_EQ(lines[3], "tiny.txt\tok");

  for (const char* archive : {"generated/damaged/izip-stored.bad-crc.zip",
                              "generated/damaged/izip-deflate.corrupt-deflate-data.zip"}) {
    SCOPED_TRACE(archive);
    const std::string target = Path("readme.txt");
    const TRunResult toFile = Zipread({"extract", CorpusPath(archive), "readme.txt", "-o", target});
    EXPECT_EQ(toFile.exitCode, 1);
    EXPECT_NE(toFile.err.find("check sum"), std::string::npos) << toFile.err;
    EXPECT_FALSE(std::filesystem::exists(target));
    const TRunResult toStdout = Zipread({"extract", CorpusPath(archive), "readme.txt"});
    EXPECT_EQ(toStdout.exitCode, 1);
    EXPECT_EQ(toStdout.out, "");
  }
}

// Two entries whose names differ only in letter case: a lookup by name reaches only the later
// one, as the updater's does, while test still examines each, so damage in the hidden one shows.
TEST_F(ZipreadFolderTest, TestReachesEntriesThatALaterEntryOfTheSameNameHides) {
  ZipBuilder builder;
  builder.AddStored("Setup.EXE", "hidden first copy").crc32 ^= 1;  // damaged
  builder.AddDeflated("setup.exe", TextOf(5000));
  const std::string archive = Path("shadowed.zip");
  const Bytes bytes = builder.Build().bytes;
  WriteTextFile(archive, std::string(bytes.begin(), bytes.end()));

  const TRunResult listed = Zipread({"list", archive});
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_EQ(Lines(listed.out).size(), 2u) << listed.out;

  for (const char* name : {"Setup.EXE", "SETUP.exe"}) {
    const TRunResult extracted = Zipread({"extract", archive, name});
    EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.out, TextOf(5000)) << name;
  }

  const TRunResult tested = Zipread({"test", archive});
  EXPECT_EQ(tested.exitCode, 1);
  const std::vector<std::string> lines = Lines(tested.out);
  ASSERT_EQ(lines.size(), 2u) << tested.out;
  EXPECT_NE(lines[0].find("check sum"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "setup.exe\tok");
}

TEST_F(ZipreadFolderTest, ExitStatusTellsSuccessFailureAndBadUsageApart) {
  WriteTextFile(Path("page.html"), "<html>Service unavailable</html>");
  const std::string good = CorpusPath("generated/izip-deflate.zip");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"list", good}, 0},
      {{"test", good}, 0},
      {{"extract", good, "tiny.txt"}, 0},
      {{"extract", good, "tiny.txt", "-o", Path("tiny")}, 0},
      {{"--help"}, 0},
      {{"list", Path("missing.zip")}, 1},
      {{"list", Path("page.html")}, 1},
      {{"test", Path("page.html")}, 1},
      {{"list", scratch_.Path()}, 1},
      {{"extract", good, "missing.txt"}, 1},
      {{"extract", good, "tiny.txt", "-o", Path("no/such/folder/tiny")}, 1},
      {{}, 2},
      {{"unpack", good}, 2},
      {{"list"}, 2},
      {{"list", good, good}, 2},
      {{"list", good, "-p", "x"}, 2},
      {{"extract", good}, 2},
      {{"extract", good, "a", "b"}, 2},
      {{"extract", good, "tiny.txt", "-o"}, 2},
      {{"extract", good, "tiny.txt", "-o", "x", "-o", "y"}, 2},
      {{"test", good, "-o", "x"}, 2},
      {{"test", good, "--verbose"}, 2},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const TRunResult r = Zipread(c.args);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err, "");
    }
    if (c.status == 2) {
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace lumen::test
