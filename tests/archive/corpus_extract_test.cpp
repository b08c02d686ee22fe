// Every entry of the corpus that reference readers extracted intact comes out of this reader
// with the same MD5, and every other entry fails with the archiver's or the platform's exception,
// except where this reader deliberately differs; those cases are listed with their reasons, and a
// listed case that starts to match is reported too, so the lists stay true.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "archive/dir_item.h"
#include "archive/dir_manager.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "tests/archive/encrypted_corpus.h"
#include "tests/support/corpus_manifest.h"
#include "tests/support/reference_md5.h"

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

// Entries this large that are expected to come out are not held in memory; they have a test of
// their own.
constexpr uint64_t kLargeEntry = uint64_t{256} << 20;

// The archive's bytes, held in memory as the updater holds a download.
std::unique_ptr<TMemoryStream> LoadArchive(const testing::ManifestArchive& a) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->LoadFromFile(std::string(LUMEN_CORPUS_DIR) + "/" + a.path);
  return stream;
}

// The password an entry is extracted with: the one its source documents, the corpus's own for
// the archives generated for it, else none.
std::string PasswordFor(const testing::ManifestArchive& a, const testing::ManifestEntry* e) {
  if (e != nullptr && e->password) return *e->password;
  return a.path.starts_with("generated/") ? "secret" : "";
}

bool Listed(const std::string& where) {
  for (const Difference& d : kDifferences) {
    if (where == d.where) return true;
  }
  return false;
}

// Runs one step of the reader: "" when it returns, else what it raised. The archiver's error and
// the platform's exceptions are the only ones it may raise; any other comes back as "foreign".
template <typename Step>
std::string Raised(Step step) {
  try {
    step();
  } catch (const EZAException& e) {
    return "native " + std::to_string(e.NativeError());
  } catch (const Exception& e) {
    return "exception " + e.Message();
  } catch (const std::exception& e) {
    return std::string("foreign ") + typeid(e).name() + ": " + e.what();
  } catch (...) {
    return "foreign exception";
  }
  return "";
}

std::string Outcome(IndexedArchiver& archiver, int32_t index, const testing::ManifestEntry& e) {
  const std::string& md5 = *e.md5;
  TMemoryStream out;
  const std::string raised = Raised([&] { archiver.ExtractItem(index, out); });
  if (!raised.empty()) return raised;
  const uint8_t* p = out.Memory();
  const std::string actual = test::ReferenceMd5Hex(std::vector<uint8_t>(p, p + out.Size()));
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
    const auto stream = LoadArchive(a);
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
    for (int32_t i = 0; i < count; ++i) {
      const testing::ManifestEntry& e = a.entries[static_cast<size_t>(i)];
      const std::string where = a.path + "#" + std::to_string(i);
      if (!e.intact || !e.md5 || (e.size > kLargeEntry && !Listed(where))) continue;
      archiver.SetPassword(PasswordFor(a, &e));
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
      const auto stream = LoadArchive(a);
      IndexedArchiver archiver;
      archiver.OpenFromStream(*stream);
      TDiscardStream sink;
      EXPECT_NO_THROW(archiver.ExtractItem(static_cast<int32_t>(i), sink)) << a.path;
      EXPECT_EQ(sink.Size(), static_cast<int64_t>(e.size)) << a.path;
      ++checked;
    }
  }
  EXPECT_GE(checked, 1);
}

// Entries whose outcome here goes against the manifest's verdict: extracted although no reference
// reader extracted them intact ("extracted"), or, for an intact entry with no MD5 to compare
// (folders), anything else. "path" stands for every such entry of the archive, "path#index"
// (directory index) for one.
const Difference kVerdictDifferences[] = {
    // No central directory: rebuilt from the local headers (and data descriptors), every entry
    // passes its CRC-32 or AES code and equals the undamaged original.
    {"generated/damaged/izip-deflate.no-cd.zip", "extracted",
     "the archive ends where its central directory began; the directory is rebuilt from the local "
     "headers and every entry passes its CRC-32"},
    {"generated/damaged/izip-stored.no-cd.zip", "extracted", "as izip-deflate.no-cd"},
    {"generated/damaged/izip-zipcrypto.no-cd.zip", "extracted",
     "as izip-deflate.no-cd, decrypted with the password"},
    {"generated/damaged/7z-aes256-deflate.no-cd.zip", "extracted",
     "as izip-deflate.no-cd; the entries pass their AES authentication code"},
    {"generated/damaged/izip-streamed-dd.no-cd.zip", "extracted",
     "as izip-deflate.no-cd, with sizes and CRC-32 from the data descriptors"},
    {"generated/damaged/py-streamed-dd.no-cd.zip", "extracted", "as izip-streamed-dd.no-cd"},
    {"generated/damaged/bsdtar-streamed.no-cd.zip", "extracted", "as izip-streamed-dd.no-cd"},
    {"generated/damaged/izip-deflate.cd-zeroed.zip", "extracted",
     "the zeroed central directory gives entries with empty names, which cannot all be indexed; "
     "rebuilt as izip-deflate.no-cd"},
    {"generated/damaged/izip-deflate.truncated-mid-data.zip#0", "extracted",
     "cut inside the second entry's data, with no central directory: rebuilt as "
     "izip-deflate.no-cd, the first entry is whole (the second's header is dropped: its compressed "
     "size is larger than the cut stream)"},
    // The end record fails its plausibility tests or leads to no readable directory: rebuilt from
    // the local headers.
    {"zip2/invalid_offset.zip", "extracted",
     "the end record's directory offset lies past the end of the file; rebuilt from the four local "
     "headers at the front, and both files pass their CRC-32"},
    {"libzip/incons-cdoffset.zip#0", "extracted",
     "the end record's directory offset is 2 MiB too large; rebuilt, the entry passes its CRC-32 "
     "as bsdtar finds"},
    {"libzip/incons-cdsize-small.zip#0", "extracted",
     "the end record's directory size is one byte short, so the directory read from there fails "
     "and is rebuilt; unzip compensates alike and tests the entry OK"},
    // The directory starts where its size, counted back from the end record, puts it.
    {"generated/damaged/izip-deflate.eocd-bad-offset.zip", "extracted",
     "the end record's directory offset is 7 too large, but it is only tested for plausibility; "
     "bsdtar extracts the same content"},
    // Header signatures are not checked: only the central header's fields and the local header's
    // two lengths are used, and the data passes its CRC-32.
    {"yauzl/failure/invalid-cd-header-signature.zip", "extracted",
     "the second central header's signature is PK\\1\\1"},
    {"libzip/incons-central-magic-bad.zip#0", "extracted",
     "the central header's signature is @K\\1\\2"},
    {"libzip/incons-central-magic-bad2.zip#0", "extracted",
     "the central header carries a local header's signature"},
    {"yauzl/failure/invalid-local-header-signature.zip#1", "extracted",
     "the local header's signature is PK\\3\\3"},
    {"libzip/incons-local-magic-bad.zip#0", "extracted",
     "the local header's signature is @K\\3\\4"},
    {"dotnet/badzipfiles/localFileHeaderSignatureWrong.zip#0", "extracted",
     "the local header's signature begins with 05 instead of 50 (P)"},
    // The central directory is the authority: the local header's name is not compared with it.
    // 7-Zip or unzip extract the same content; Python rejects the mismatch.
    {"jszip/slashes_and_izarc.zip#0", "extracted",
     "the central name has a backslash where the local name has a slash"},
    {"libzip/incons-local-filename.zip#0", "extracted", "local name b, central name a"},
    {"libzip/incons-local-filename-missing.zip#0", "extracted", "the local name is empty"},
    {"libarchive/zip_7075_utf8_paths.zip", "extracted",
     "the local names differ from the Unicode path names (0x7075) that Python compares them with"},
    // Names that are no safe path, and differ from the local name as well: whether a name is
    // safe is for whoever makes a file of the entry, not for extraction into a stream.
    {"yauzl/failure/absolute-path-slash.zip#0", "extracted", "central /atxt, local a.txt"},
    {"yauzl/failure/absolute-path-drive-letter.zip#0", "extracted", "central C:/xt, local a.txt"},
    {"yauzl/failure/invalid-relative-path.zip#0", "extracted", "central ../xt, local a.txt"},
    {"yauzl/failure/invalid-chars-in-filename.zip#0", "extracted", "central a\\txt, local a.txt"},
    {"yauzl/success/sloppy-filenames.zip#0", "extracted", "central a\\txt, local a.txt"},
    {"dotnet/StrangeZipFiles/filenameTimeAndSizesDifferentInLH.zip#0", "extracted",
     "the local header's name, time and sizes (101 and 128 bytes) differ from the central "
     "header's; the 26 bytes the central header declares end at the directory and pass its CRC-32, "
     "while the reference readers reject the mismatch or fail on the local sizes"},
    {"yauzl/failure/unexpected-eof.zip#0", "extracted",
     "sizes and offset hold the Zip64 marker, but the only extra block has tag 0x0011, so no "
     "64-bit values are given and they stay 0: the offset names the local header at the start, "
     "which is this empty entry's, and nothing is read. Python takes the offset as 0xFFFFFFFF and "
     "finds no header there; the other readers fail as well"},
};

// The manifest's entry for the one this reader loaded: by index when both list the same number of
// entries, else by name; null when the reference readers did not list it.
const testing::ManifestEntry* ManifestEntryFor(const testing::ManifestArchive& a, int32_t index,
                                               int32_t count, const std::u16string& name) {
  if (count == static_cast<int32_t>(a.entries.size())) {
    return &a.entries[static_cast<size_t>(index)];
  }
  const std::string bytes = WideToUtf8(name);
  for (const testing::ManifestEntry& e : a.entries) {
    if (e.nameBytes == bytes) return &e;
  }
  return nullptr;
}

// Every entry of every archive, whatever the reference readers made of it, is extracted into a
// sink that only counts: a failure is the archiver's or the platform's exception, never another
// one, and nothing past the declared size is written. An entry the reference readers could not
// extract intact fails, or is skipped for want of its password, unless listed above.
TEST(CorpusExtraction, EveryEntryExtractsOrFailsCleanly) {
  std::map<std::string, const Difference*> rows;
  for (const Difference& d : kVerdictDifferences) rows[d.where] = &d;
  std::set<std::string> used;
  int extracted = 0;
  int judged = 0;

  for (const testing::ManifestArchive& a : testing::CorpusManifest()) {
    const auto stream = LoadArchive(a);
    IndexedArchiver archiver;
    bool asked = false;
    archiver.OnPassword = [&asked](TZABaseArchiver&, const std::u16string&, std::string&,
                                   bool& skip) {
      asked = true;
      skip = true;
    };
    const std::string opened = Raised([&] { archiver.OpenFromStream(*stream); });
    if (!opened.empty()) {
      EXPECT_FALSE(opened.starts_with("foreign")) << a.path << ": " << opened;
      continue;
    }
    const TZADirArray& directory = archiver.DirManager()->Directory();
    const int32_t count = directory.Count();
    for (int32_t i = 0; i < count; ++i) {
      const TDirItem& item = directory.ItemAt(i);
      const testing::ManifestEntry* e = ManifestEntryFor(a, i, count, item.Name);
      const bool intact = e != nullptr && e->intact;
      // Intact entries this large are decoded by the tests above; one takes seconds.
      if (intact && e->size > kLargeEntry) continue;
      const std::string where = a.path + "#" + std::to_string(i);
      archiver.SetPassword(PasswordFor(a, e));
      const auto declared = static_cast<int64_t>(
          std::min<uint64_t>(item.UncompressedSizeValue(), std::numeric_limits<int64_t>::max()));
      TDiscardStream sink;
      asked = false;
      std::string outcome = Raised([&] { archiver.ExtractItem(i, sink); });
      EXPECT_FALSE(outcome.starts_with("foreign")) << where << ": " << outcome;
      EXPECT_LE(sink.Size(), declared) << where << ": " << outcome;
      if (outcome.empty()) {
        outcome = asked ? "skipped" : "extracted";
        EXPECT_EQ(sink.Size(), asked ? 0 : declared) << where << ": " << outcome;
        extracted += asked ? 0 : 1;
      }
      // Compared with its MD5 by IntactEntriesMatchTheReferenceContent.
      if (intact && e->md5) continue;
      ++judged;
      auto row = rows.find(where);
      if (row == rows.end()) row = rows.find(a.path);
      if (row != rows.end()) {
        used.insert(row->first);
        EXPECT_EQ(outcome, row->second->outcome) << where << " was listed: " << row->second->reason;
        continue;
      }
      const bool differs = intact ? outcome != "extracted" : outcome == "extracted";
      const char* verdict = e == nullptr  ? "not listed by the reference readers"
                            : intact      ? "intact"
                            : e->disputed ? "disputed"
                                          : "not intact";
      EXPECT_FALSE(differs) << where << ": " << outcome << ", but " << verdict
                            << " in the manifest";
    }
  }

  EXPECT_GT(extracted, 1900);
  EXPECT_GT(judged, 200);
  for (const Difference& d : kVerdictDifferences) {
    EXPECT_TRUE(used.count(d.where)) << d.where << " is no longer reached; update the list";
  }
}

}  // namespace
}  // namespace lumen
