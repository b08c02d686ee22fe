// Every archive of the conformance corpus is opened and its entry list (count and names) compared
// with what the reference readers listed. Where this reader differs by design, the difference and
// its reason are listed below; any other difference fails.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/dir_manager.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/stream.h"
#include "tests/support/corpus_manifest.h"

namespace lumen {
namespace {

struct Listing {
  bool opened = false;
  int code = 0;  // native code of the EZAException when not opened, -1 for another failure
  std::string failure;
  std::vector<std::string> names;  // UTF-8
};

Listing ListArchive(const std::string& path, bool oemNames) {
  Listing out;
  TMemoryStream stream;
  stream.LoadFromFile(path);
  TZipArchiver archiver;
  archiver.Options().SetOEMFileNames(oemNames);
  try {
    archiver.OpenFromStream(stream, false);
  } catch (const EZAException& e) {
    out.code = e.NativeError();
    out.failure = e.Message();
    return out;
  } catch (const Exception& e) {
    out.code = -1;
    out.failure = e.Message();
    return out;
  }
  out.opened = archiver.IsOpen();
  const TZADirArray& dir = archiver.DirManager()->Directory();
  for (int32_t i = 0; i < dir.Count(); ++i) out.names.push_back(WideToUtf8(dir.ItemAt(i).Name));
  return out;
}

// Archives whose listing differs from the reference readers' because of how this reader is
// designed to behave. "count" is what this reader gives (-1: the open fails with "code").
struct ExpectedDifference {
  int count;
  int code;
  const char* reason;
};

const std::map<std::string, ExpectedDifference>& Differences() {
  static const std::map<std::string, ExpectedDifference> table = {
      // A Zip64 locator right before the end record names a Zip64 end record that is not there
      // (offsets that do not count a prefix, a wrong signature, or locator bytes that are part of
      // a name or comment): the reader refuses the archive instead of guessing.
      {"jszip/zip64_missing_bytes.zip",
       {-1, 40, "locator offset does not count the missing bytes"}},
      {"jszip/zip64_prepended_bytes.zip", {-1, 40, "locator offset does not count the prefix"}},
      {"zip2/zip64_demo.zip", {-1, 40, "locator offset does not count the 14-byte prefix"}},
      {"libzip/zip64-in-archive-comment.zip",
       {-1, 40, "locator names offset 100, no Zip64 end record there"}},
      {"yauzl/failure/invalid-zip64-eocd-signature.zip", {-1, 40, "no Zip64 end record signature"}},
      {"zip2/invalid_offset2.zip", {-1, 40, "locator names offset 1"}},
      {"zip2/invalid_cde_number_of_files_allocation_smaller_offset.zip",
       {-1, 40, "locator names offset 0"}},
      {"zip2/zip64_magic_in_filename_1.zip",
       {-1, 40, "a name ends in locator bytes before the end record"}},
      {"zip2/zip64_magic_in_filename_2.zip",
       {-1, 40, "a name ends in locator bytes before the end record"}},
      {"zip2/zip64_magic_in_filename_3.zip",
       {-1, 40, "a name ends in locator bytes before the end record"}},
      {"zip2/zip64_magic_in_filename_4.zip",
       {-1, 40, "a name ends in locator bytes before the end record"}},
      {"zip2/zip64_magic_in_filename_5.zip",
       {-1, 40, "a name ends in locator bytes before the end record"}},
      // No plausible end record and no local header with room after it.
      {"libzip/bogus.zip", {-1, 35, "no ZIP data"}},
      {"yauzl/failure/eocd-not-found-empty-file.zip", {-1, 35, "empty file"}},
      {"zip2/invalid_cde_number_of_files_allocation_greater_offset.zip",
       {-1, 35, "end record fails the count test (12 on this disk, 0 in total); no local headers"}},
      // Two entries with empty names cannot both be indexed, in the directory or in the rebuild.
      {"libzip/filename_duplicate_empty.zip", {-1, 59, "two empty names"}},
      // The end record fails the plausibility tests, so the directory is rebuilt from local
      // headers.
      {"jszip/all_missing_bytes.zip",
       {2, 0,
        "directory offset lies past where the directory can start; rebuilt, the first header is "
        "cut away"}},
      // Rebuilt from local headers: a header whose compressed size is not below the stream size is
      // taken for a damaged one and skipped.
      {"generated/damaged/izip-deflate.truncated-mid-data.zip",
       {1, 0, "no end record; random.bin's compressed size exceeds the truncated stream"}},
      {"dotnet/badzipfiles/HuffmanTreeException.zip",
       {0, 0,
        "directory size points before the directory; rebuilt, the one header claims 7,767 bytes of "
        "194"}},
      // The entry count of the end record is taken as it is; headers are read from where the
      // directory size says the directory starts, whatever their signature.
      {"libzip/incons-file-count-low.zip", {2, 0, "end record counts 2 of the 3 central headers"}},
      {"libzip/incons-central-magic-bad2.zip",
       {1, 0, "end record counts one entry; 7-Zip also lists a local header"}},
      {"libzip/incons-gap-before-eocd.zip",
       {1, 0,
        "directory counted back from the end record starts one byte late: the name is empty"}},
      // Entries the reference readers could not list but whose headers this reader loads.
      {"libarchive/zip_lzma_alone_leak.zipx", {1, 0, "reference readers list nothing"}},
      {"libarchive/zip_ppmd8_crash_1.zipx", {1, 0, "reference readers list nothing"}},
      {"libarchive/zip_ppmd8_crash_2.zipx", {1, 0, "reference readers list nothing"}},
      // Names are kept as stored; the reference listing shows 7-Zip's made-up name for a nameless
      // entry.
      {"libarchive/zip_zipx_lzma_oom.zipx", {1, 0, "the entry's stored name is empty"}},
  };
  return table;
}

// Name encodings whose names this reader decodes differently by design.
const std::map<std::string, const char*>& NameEncodingReasons() {
  static const std::map<std::string, const char*> table = {
      {"cp437-guess",
       "names without the UTF-8 flag are OEM text, and this system's OEM code page is CP866"},
      {"unicode-path-extra",
       "the 0x7075 Unicode path block is not read; the name comes from the header"},
  };
  return table;
}

// Names that differ from the reference listing although this reader decodes them as designed.
bool SameNameAsDesigned(const std::string& ours, const std::string& theirs, bool listedBy7Zip,
                        const std::string& rel) {
  if (ours == theirs) return true;
  // 7-Zip lists folders without their trailing separator.
  if (listedBy7Zip && ours == theirs + "/") return true;
  // Xceed writes a 0x554E block with the "NUCX" signature too, with "\" separators in its name;
  // the block's name replaces the header's.
  if (rel == "dotnet/compat/xceedstreaming.zip") {
    std::string slashed = ours;
    for (auto& c : slashed) c = c == '\\' ? '/' : c;
    return slashed == theirs;
  }
  return false;
}

TEST(CorpusDirectory, EntryListsMatchTheReferenceReadersOrDifferForAListedReason) {
  ASSERT_EQ(testing::CorpusManifest().size(), testing::CorpusManifestDeclaredCount());
  int compared = 0;
  for (const testing::ManifestArchive& archive : testing::CorpusManifest()) {
    const std::string& rel = archive.path;
    SCOPED_TRACE(rel);
    const Listing ours = ListArchive(std::string(LUMEN_CORPUS_DIR) + "/" + rel, true);
    const std::vector<testing::ManifestEntry>& entries = archive.entries;
    const auto diff = Differences().find(rel);
    if (diff != Differences().end()) {
      // A listed difference must still be the one described.
      if (diff->second.count < 0) {
        EXPECT_FALSE(ours.opened) << diff->second.reason;
        EXPECT_EQ(ours.code, diff->second.code) << ours.failure;
      } else {
        EXPECT_TRUE(ours.opened) << ours.failure;
        EXPECT_EQ(static_cast<int>(ours.names.size()), diff->second.count) << diff->second.reason;
      }
      continue;
    }
    if (!ours.opened) {
      ADD_FAILURE() << "not opened, code " << ours.code << ": " << ours.failure;
      continue;
    }
    if (ours.names.size() != entries.size()) {
      ADD_FAILURE() << ours.names.size() << " entries instead of " << entries.size();
      continue;
    }
    ++compared;
    for (size_t i = 0; i < entries.size(); ++i) {
      const std::string& encoding = entries[i].nameEncoding;
      const std::string& expected = entries[i].nameGuess;
      if (NameEncodingReasons().count(encoding)) continue;
      if (encoding == "utf8-unflagged") {
        // UTF-8 bytes without the flag are OEM text to the updater; with OEM names off, the
        // bytes themselves are recognised as UTF-8.
        const Listing plain = ListArchive(std::string(LUMEN_CORPUS_DIR) + "/" + rel, false);
        ASSERT_TRUE(plain.opened);
        EXPECT_EQ(plain.names.at(i), expected) << "entry " << i;
        continue;
      }
      const bool listedBy7Zip = archive.listingSource.starts_with("7z");
      EXPECT_TRUE(SameNameAsDesigned(ours.names[i], expected, listedBy7Zip, rel))
          << "entry " << i << " (" << encoding << "): " << ours.names[i] << " vs " << expected;
    }
  }
  EXPECT_GT(compared, 400);
}

}  // namespace
}  // namespace lumen
