// Encrypted entries of archives written by Info-ZIP zip, 7-Zip and bsdtar: the password request
// through the built-in prompt or the OnPassword event, cancelling, and the AES authentication
// code standing in for the CRC-32.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "platform/scripted_toolkit.h"
#include "tests/archive/archiver_harness.h"
#include "tests/archive/encrypted_corpus.h"
#include "tests/support/corpus_manifest.h"
#include "tests/support/reference_md5.h"

namespace lumen {
namespace {

using test::Bytes;
using test::Extraction;
using test::OpenArchive;

std::string ContentMd5(const std::string& archive, const std::string& name) {
  for (const testing::ManifestEntry& e : testing::ManifestFor(archive).entries) {
    if (e.nameBytes == name && e.md5) return *e.md5;
  }
  throw std::out_of_range(name + " has no known content in " + archive);
}

// Installs a scripted toolkit as the program's for one test.
class PromptedExtraction : public ::testing::Test {
 protected:
  PromptedExtraction() { SetCurrentToolkit(&toolkit_); }
  ~PromptedExtraction() override { SetCurrentToolkit(nullptr); }

  TScriptedToolkit toolkit_;
};

struct PromptCase {
  const char* label;
  const char* archive;
  const char* entry;
  std::vector<std::optional<std::string>> answers;
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << c.label;
}

class PasswordPrompt : public PromptedExtraction,
                       public ::testing::WithParamInterface<PromptCase> {};

// Each wrong answer, the empty one included, brings the prompt back; the right one extracts the
// entry and stays in Password for the next encrypted entry, which needs no prompt.
TEST_P(PasswordPrompt, AsksUntilThePasswordIsRight) {
  const PromptCase& c = GetParam();
  for (const auto& answer : c.answers) toolkit_.QueuePasswordAnswer(answer);
  const testing::RawArchive raw = testing::LoadCorpusArchive(c.archive);
  OpenArchive archive(raw.bytes);
  const std::u16string entry(c.entry, c.entry + std::strlen(c.entry));

  const Extraction result = archive.Extract(entry);
  ASSERT_FALSE(result.nativeError) << result.message;
  EXPECT_EQ(test::ReferenceMd5Hex(result.output), ContentMd5(c.archive, c.entry));
  EXPECT_EQ(archive.archiver().Password(), "secret");
  const std::vector<TShownPrompt> expected(
      c.answers.size(),
      TShownPrompt{std::string("Password for \"") + c.entry + "\"", "Enter password: "});
  EXPECT_EQ(toolkit_.Prompts(), expected);

  const Extraction tiny = archive.Extract(u"tiny.txt");
  ASSERT_FALSE(tiny.nativeError) << tiny.message;
  EXPECT_EQ(tiny.output, test::Text("hi\n"));
  EXPECT_EQ(toolkit_.Prompts().size(), c.answers.size());
}

const PromptCase kPromptCases[] = {
    {"TraditionalDeflate",
     "generated/izip-zipcrypto.zip",
     "readme.txt",
     {std::string(), std::string("wrong"), std::string("secret")}},
    // Written to a pipe: the check byte comes from the modification time, not the CRC-32.
    {"TraditionalDataDescriptor",
     "generated/izip-zipcrypto-streamed-dd.zip",
     "readme.txt",
     {std::string("Secret"), std::string("secret")}},
    {"TraditionalStored",
     "generated/izip-zipcrypto-stored.zip",
     "readme.txt",
     {std::string("secret")}},
    {"SevenZipTraditional",
     "generated/7z-zipcrypto.zip",
     "readme.txt",
     {std::string("wrong"), std::string("secret")}},
    {"Aes128Stored",
     "generated/7z-aes128-stored.zip",
     "readme.txt",
     {std::string(), std::string("secret")}},
    {"Aes256Deflate",
     "generated/7z-aes256-deflate.zip",
     "readme.txt",
     {std::string("secreT"), std::string("wrong"), std::string("secret")}},
    {"Aes256FirstVersionWithCrc",
     "generated/bsdtar-aes256.zip",
     "readme.txt",
     {std::string("secret")}},
};

INSTANTIATE_TEST_SUITE_P(Corpus, PasswordPrompt, ::testing::ValuesIn(kPromptCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(PromptedExtraction, CancelWritesNothingAndRaisesNothing) {
  for (const char* path : {"generated/izip-zipcrypto.zip", "generated/7z-aes256-deflate.zip"}) {
    toolkit_.QueuePasswordAnswer(std::string("wrong"));
    toolkit_.QueuePasswordAnswer(std::nullopt);
    OpenArchive archive(testing::LoadCorpusArchive(path).bytes);
    const Extraction result = archive.Extract(u"readme.txt");
    EXPECT_FALSE(result.nativeError) << path << ": " << result.message;
    EXPECT_TRUE(result.output.empty()) << path;
    // The typed wrong password was taken; the cancel changed nothing further.
    EXPECT_EQ(archive.archiver().Password(), "wrong") << path;
    EXPECT_EQ(toolkit_.PendingPasswordAnswers(), 0u);
    EXPECT_TRUE(archive.archiver().IsOpen());
  }
}

TEST_F(PromptedExtraction, KnownPasswordOrEventNeedsNoPrompt) {
  OpenArchive preset(testing::LoadCorpusArchive("generated/izip-zipcrypto.zip").bytes);
  preset.archiver().SetPassword("secret");
  EXPECT_EQ(test::ReferenceMd5Hex(preset.Extract(u"random.bin").output),
            ContentMd5("generated/izip-zipcrypto.zip", "random.bin"));

  OpenArchive evented(testing::LoadCorpusArchive("generated/7z-aes192-deflate.zip").bytes);
  std::vector<std::u16string> asked;
  evented.archiver().OnPassword = [&](TZABaseArchiver&, const std::u16string& name,
                                      std::string& password, bool& skip) {
    EXPECT_FALSE(skip);
    asked.push_back(name);
    password = asked.size() == 1 ? "wrong" : "secret";
  };
  const Extraction result = evented.Extract(u"readme.txt");
  ASSERT_FALSE(result.nativeError) << result.message;
  EXPECT_EQ(test::ReferenceMd5Hex(result.output),
            ContentMd5("generated/7z-aes192-deflate.zip", "readme.txt"));
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"readme.txt", u"readme.txt"}));
  EXPECT_TRUE(toolkit_.Prompts().empty());

  // An event that skips the entry ends the call quietly with nothing written.
  evented.archiver().SetPassword("");
  evented.archiver().OnPassword = [](TZABaseArchiver&, const std::u16string&, std::string&,
                                     bool& skip) { skip = true; };
  const Extraction skipped = evented.Extract(u"tiny.txt");
  EXPECT_FALSE(skipped.nativeError);
  EXPECT_TRUE(skipped.output.empty());
}

// The central header of the named entry, found by walking the central directory.
size_t CentralHeaderOf(const Bytes& bytes, const std::string& name) {
  for (size_t at = 0; at + 46 <= bytes.size(); ++at) {
    if (bytes[at] == 'P' && bytes[at + 1] == 'K' && bytes[at + 2] == 1 && bytes[at + 3] == 2) {
      const size_t length = bytes[at + 28] | bytes[at + 29] << 8;
      if (std::string(bytes.begin() + at + 46, bytes.begin() + at + 46 + length) == name) {
        return at;
      }
    }
  }
  throw std::out_of_range(name);
}

// AES entries are judged by their authentication code; the CRC-32, which AE-2 writers leave 0
// and AE-1 writers fill in, plays no part.
TEST(AesAuthentication, CodeDecidesAndStoredCrcIsIgnored) {
  const std::string path = "generated/bsdtar-aes256.zip";
  const testing::RawArchive raw = testing::LoadCorpusArchive(path);
  const testing::RawEntry& entry = raw.Entry("readme.txt");
  ASSERT_EQ(entry.aesVersion, 1);
  const std::string md5 = ContentMd5(path, "readme.txt");

  Bytes wrongCrc = raw.bytes;
  wrongCrc[CentralHeaderOf(wrongCrc, "readme.txt") + 16] ^= 0xFF;
  OpenArchive crcDamaged(wrongCrc);
  crcDamaged.archiver().SetPassword("secret");
  const Extraction ok = crcDamaged.Extract(u"readme.txt");
  ASSERT_FALSE(ok.nativeError) << ok.message;
  EXPECT_EQ(test::ReferenceMd5Hex(ok.output), md5);

  Bytes wrongCode = raw.bytes;
  wrongCode[entry.dataOffset + entry.compressedSize - 1] ^= 0x01;
  OpenArchive codeDamaged(wrongCode);
  codeDamaged.archiver().SetPassword("secret");
  const Extraction bad = codeDamaged.Extract(u"readme.txt");
  EXPECT_EQ(bad.nativeError, 8);
  // The data itself was intact, so all of it was written before the code was compared.
  EXPECT_EQ(test::ReferenceMd5Hex(bad.output), md5);
}

// Traditional encryption has no code of its own: the CRC-32 is checked after decryption.
TEST(TraditionalEncryption, WrongStoredCrcFails) {
  const std::string path = "generated/izip-zipcrypto.zip";
  Bytes bytes = testing::LoadCorpusArchive(path).bytes;
  bytes[CentralHeaderOf(bytes, "tiny.txt") + 16] ^= 0x01;
  OpenArchive archive(bytes);
  archive.archiver().SetPassword("secret");
  const Extraction result = archive.Extract(u"tiny.txt");
  EXPECT_EQ(result.nativeError, 8);
  EXPECT_EQ(result.output, test::Text("hi\n"));
}

}  // namespace
}  // namespace lumen
