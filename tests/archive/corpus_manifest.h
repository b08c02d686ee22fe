// The corpus manifest as the archive tests need it: each archive's entries in directory order,
// with what correct readers extracted from them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumen::testing {

struct ManifestEntry {
  std::string nameBytes;  // the stored name bytes
  bool isDir = false;
  uint64_t size = 0;
  int method = 0;
  // The method under the encryption of an AES entry (whose method is 99); else method.
  int dataMethod = 0;
  // Extracted intact by some reference reader, with this MD5 of the content.
  bool intact = false;
  // Not intact: Python rejected the data, but another reference reader reported success.
  bool disputed = false;
  std::optional<std::string> md5;
  std::optional<std::string> password;
};

struct ManifestArchive {
  std::string path;  // relative to the corpus folder
  std::vector<ManifestEntry> entries;
};

// Reads LUMEN_CORPUS_DIR/manifest.json; throws std::runtime_error when it is missing.
const std::vector<ManifestArchive>& CorpusManifest();

// The archive with this relative path; throws std::out_of_range when the manifest has none.
const ManifestArchive& ManifestFor(const std::string& path);

}  // namespace lumen::testing
