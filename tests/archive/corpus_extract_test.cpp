// Every entry of the corpus that reference readers extracted intact comes out of this reader
// with the same MD5, except where this reader deliberately differs; those cases are listed with
// their reasons, and a listed case that starts to match is reported too, so the list stays true.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/dir_manager.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/exceptions.h"
#include "tests/archive/corpus_manifest.h"
#include "tests/archive/encrypted_corpus.h"

namespace lumen {
namespace {

// Extracts by directory index, so that every entry is reached whatever its name decodes to.
class IndexedArchiver : public TZipArchiver {
 public:
  using TZipArchiver::ExtractItem;
};

struct Difference {
  const char* where;  // "path" for the whole archive, "path#index" for one entry
  const char* outcome;
  const char* reason;
};

const Difference kDifferences[] = {
    {"jszip/all_missing_bytes.zip", "entries 2",
     "the archive's first bytes are missing, so the directory is rebuilt from the local headers "
     "that remain"},
    {"jszip/zip64_prepended_bytes.zip", "open 40",
     "the Zip64 locator's offset does not count the prepended bytes and is taken as stored"},
    {"libzip/zip64-in-archive-comment.zip", "open 40",
     "a Zip64 locator inside the archive comment points at no Zip64 end record"},
    {"zip2/zip64_demo.zip", "open 40",
     "the Zip64 locator names an offset 14 bytes short of the Zip64 end record"},
    {"zip2/zip64_magic_in_filename_1.zip", "open 40",
     "the last entry's name ends in the bytes of a Zip64 locator, right before the end record, "
     "and is read as one"},
    {"zip2/zip64_magic_in_filename_2.zip", "open 40", "as _1"},
    {"zip2/zip64_magic_in_filename_4.zip", "open 40", "as _1"},
    {"zip2/zip64_magic_in_filename_5.zip", "open 40", "as _1"},
    {"libzip/filename_duplicate_empty.zip", "open 59",
     "two entries with empty names cannot both be indexed, in the directory or in its rebuild"},
    {"libzip/incons-file-count-low.zip", "entries 2",
     "the end record counts fewer entries than the directory holds; only those are read"},
    {"libzip/incons-eocd64.zip#0", "native 8",
     "the end record counts no entries, so everything before the end records is taken as data "
     "before the archive and the entry's offset is moved past it"},
    {"libzip/incons-central-size-larger.zip#0", "native 8",
     "the central directory declares 32 bytes for 1 byte of data"},
    {"libzip/incons-trailing-garbage.zip#0", "native 8",
     "bytes after the deflate data, inside the compressed size, are read as the zlib trailer "
     "and fail it"},
    {"jszip/invalid/bad_decompressed_size.zip#0", "native 8",
     "the declared size is not the data's size"},
    {"libarchive/zip_uncompressed_size_off_by_4gib.zip#0", "native 8",
     "the declared size is 4 GiB larger than the data"},
    {"yauzl/failure/stored-size-mismatch.zip#0", "native 8",
     "the compressed size of a stored entry runs over the next entry; decoding stops at the "
     "declared size, which the data then exceeds"},
    {"yauzl/failure/too-few-bytes-in-stream.zip#0", "native 8",
     "the declared size is larger than the data"},
    {"yauzl/wrong-entry-sizes/wrong-entry-sizes.zip#0", "native 8",
     "the declared size is larger than the data"},
    {"yauzl/wrong-entry-sizes/wrong-entry-sizes.zip#2", "native 8",
     "a folder entry declares 1024 bytes and has none"},
    {"libarchive/zip_encryption_data.zip#0", "content differs",
     "PKWARE strong encryption: the password never checks out as traditional encryption, so "
     "the entry is skipped and nothing is written"},
    {"libarchive/zip_encryption_data.zip#1", "content differs", "as #0"},
    {"libarchive/zip_encryption_partially.zip#1", "content differs", "as above"},
};

// Methods other than stored and deflate are not decoded: Deflate64 is refused with its own code,
// every other one fails as an unsupported format.
std::string MethodOutcome(int dataMethod) {
  // -1: the manifest does not know the method (only 7-Zip could list the archive).
  if (dataMethod == -1 || dataMethod == 0 || dataMethod == 8) return "";
  return dataMethod == 9 ? "native 55" : "native 8";
}

// Takes every byte and keeps only their count.
class CountingSink : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    position_ = origin == TSeekOrigin::soBeginning ? offset
                : origin == TSeekOrigin::soCurrent ? position_ + offset
                                                   : size_ + offset;
    return position_;
  }
  void SetSize(int64_t newSize) override { size_ = newSize; }
  int64_t Size() override { return size_; }

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

// Entries this large that are expected to come out are not held in memory; they have a test of
// their own.
constexpr uint64_t kLargeEntry = uint64_t{256} << 20;

bool Listed(const std::string& where) {
  for (const Difference& d : kDifferences) {
    if (where == d.where) return true;
  }
  return false;
}

std::string Outcome(IndexedArchiver& archiver, int32_t index, const testing::ManifestEntry& e) {
  const std::string& md5 = *e.md5;
  TMemoryStream out;
  try {
    archiver.ExtractItem(index, out);
  } catch (const EZAException& e) {
    return "native " + std::to_string(e.NativeError());
  } catch (const Exception& e) {
    return "exception " + e.Message();
  }
  const uint8_t* p = out.Memory();
  const std::string actual = testing::Md5Hex(std::vector<uint8_t>(p, p + out.Size()));
  return actual == md5 ? "" : "content differs";
}

TEST(CorpusExtraction, IntactEntriesMatchTheReferenceContent) {
  std::map<std::string, std::string> expected;
  for (const Difference& d : kDifferences) expected[d.where] = d.outcome;
  std::map<std::string, std::string> actual;
  int matched = 0;

  for (const testing::ManifestArchive& a : testing::CorpusManifest()) {
    bool any = false;
    for (const auto& e : a.entries) any = any || (e.intact && e.md5);
    if (!any) continue;
    auto stream = std::make_unique<TMemoryStream>();
    stream->LoadFromFile(std::string(LUMEN_CORPUS_DIR) + "/" + a.path);
    IndexedArchiver archiver;
    // No prompt: an entry whose password is unknown or never checks out is skipped.
    archiver.OnPassword = [](TZABaseArchiver&, const std::u16string&, std::string&, bool& skip) {
      skip = true;
    };
    try {
      archiver.OpenFromStream(*stream);
    } catch (const EZAException& e) {
      actual[a.path] = "open " + std::to_string(e.NativeError());
      continue;
    } catch (const Exception& e) {
      actual[a.path] = "open " + e.Message();
      continue;
    }
    const int32_t count = archiver.DirManager()->Directory().Count();
    if (count != static_cast<int32_t>(a.entries.size())) {
      actual[a.path] = "entries " + std::to_string(count);
      continue;
    }
    const bool generated = a.path.rfind("generated/", 0) == 0;
    for (int32_t i = 0; i < count; ++i) {
      const testing::ManifestEntry& e = a.entries[static_cast<size_t>(i)];
      const std::string where = a.path + "#" + std::to_string(i);
      if (!e.intact || !e.md5 || (e.size > kLargeEntry && !Listed(where))) continue;
      archiver.SetPassword(e.password ? *e.password : generated ? "secret" : "");
      const std::string outcome = Outcome(archiver, i, e);
      const std::string byMethod = MethodOutcome(e.dataMethod);
      if (!byMethod.empty()) {
        EXPECT_EQ(outcome, byMethod) << where << " (method " << e.dataMethod << ")";
      } else if (!outcome.empty()) {
        actual[where] = outcome;
      } else {
        ++matched;
      }
    }
  }

  EXPECT_GT(matched, 1500);
  for (const auto& [where, outcome] : actual) {
    const auto it = expected.find(where);
    if (it == expected.end()) {
      ADD_FAILURE() << where << ": " << outcome;
    } else {
      EXPECT_EQ(outcome, it->second) << where;
    }
  }
  for (const auto& [where, outcome] : expected) {
    EXPECT_TRUE(actual.count(where)) << where << " now matches the reference; update the list";
  }
}

// Entries of several GiB stream through: the reader's own size and CRC-32 checks, which must
// pass, stand in for the MD5 comparison, and the output keeps only a count.
TEST(CorpusExtraction, LargeIntactEntriesPassTheirChecks) {
  int checked = 0;
  for (const testing::ManifestArchive& a : testing::CorpusManifest()) {
    for (size_t i = 0; i < a.entries.size(); ++i) {
      const testing::ManifestEntry& e = a.entries[i];
      if (!e.intact || e.size <= kLargeEntry || Listed(a.path + "#" + std::to_string(i))) {
        continue;
      }
      auto stream = std::make_unique<TMemoryStream>();
      stream->LoadFromFile(std::string(LUMEN_CORPUS_DIR) + "/" + a.path);
      IndexedArchiver archiver;
      archiver.OpenFromStream(*stream);
      CountingSink sink;
      EXPECT_NO_THROW(archiver.ExtractItem(static_cast<int32_t>(i), sink)) << a.path;
      EXPECT_EQ(sink.Size(), static_cast<int64_t>(e.size)) << a.path;
      ++checked;
    }
  }
  EXPECT_GE(checked, 1);
}

}  // namespace
}  // namespace lumen
