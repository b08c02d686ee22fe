// What the corpus manifest says about an archive's entries, for comparing the tools' views.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumen::test {

struct TManifestEntry {
  std::string name;  // UTF-8
  int method = 0;
  uint64_t size = 0;
  uint64_t compressedSize = 0;
  std::string crc32;  // 8 lower-case hex digits
  bool encrypted = false;
  bool isDir = false;
  std::optional<std::string> md5;  // of the intact content
};

// The entries of one archive, in directory order; fails the test when it is not in the manifest.
std::vector<TManifestEntry> ManifestEntries(const std::string& archivePath);

}  // namespace lumen::test
