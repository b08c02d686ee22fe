// The corpus manifest as the tests need it, read once per test binary: each archive's entries in
// directory order, with what the reference readers listed and extracted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumen::testing {

struct ManifestEntry {
  std::string nameBytes;     // the stored name bytes
  std::string nameGuess;     // the name decoded to UTF-8, as the reference readers guessed it
  std::string nameEncoding;  // how it was decoded: "ascii", "utf8-flag", "cp437-guess", ...
  bool isDir = false;
  uint64_t size = 0;
  uint64_t compressedSize = 0;
  std::string crc32;  // 8 lower-case hex digits
  int method = 0;     // -1 when the manifest does not know it
  // The method under the encryption of an AES entry (whose method is 99); else method.
  int dataMethod = 0;
  bool encrypted = false;
  // Extracted intact by some reference reader, with this MD5 of the content.
  bool intact = false;
  // Not intact: Python rejected the data, but another reference reader reported success.
  bool disputed = false;
  std::optional<std::string> md5;
  std::optional<std::string> password;
};

struct ManifestArchive {
  std::string path;           // relative to the corpus folder
  std::string listingSource;  // whose view the entries are: Python's directory, or 7-Zip's
  std::vector<ManifestEntry> entries;
};

// Reads LUMEN_CORPUS_DIR/manifest.json; throws std::runtime_error when it is missing.
const std::vector<ManifestArchive>& CorpusManifest();

// The number of archives the manifest says it describes.
size_t CorpusManifestDeclaredCount();

// The archive with this relative path; throws std::out_of_range when the manifest has none.
const ManifestArchive& ManifestFor(const std::string& path);

}  // namespace lumen::testing
