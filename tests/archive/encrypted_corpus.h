// Test access to the encrypted archives of the shared corpus: a minimal walk of the central
// directory and local headers written independently of the reader under test, plus raw inflate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumen::testing {

struct RawEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t localHeaderOffset = 0;
  // From the local header, which the check byte of traditional encryption depends on.
  uint16_t localFlags = 0;
  uint16_t localModTime = 0;
  uint32_t localCrc32 = 0;
  uint64_t dataOffset = 0;  // first byte after the local header's name and extra field
  // From the central AES extra block (0x9901); aesStrength 0 means no such block.
  uint16_t aesVersion = 0;
  uint8_t aesStrength = 0;
  uint16_t aesMethod = 0;
};

struct RawArchive {
  std::vector<uint8_t> bytes;
  std::vector<RawEntry> entries;

  const RawEntry& Entry(const std::string& name) const;
  // The entry's stored bytes (encryption header, data and trailer together).
  std::vector<uint8_t> Data(const RawEntry& entry) const;
};

// Loads LUMEN_CORPUS_DIR/<relativePath>; throws std::runtime_error when the file is missing or
// its directory cannot be walked.
RawArchive LoadCorpusArchive(const std::string& relativePath);

// Inflates raw deflate data; throws std::runtime_error when zlib rejects it.
std::vector<uint8_t> InflateRaw(const uint8_t* data, size_t size);

}  // namespace lumen::testing
