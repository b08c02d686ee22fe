// Archives the extraction benchmarks read, built in memory once per process: the sample data is
// generated deterministically, so every run and every reader sees the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace lumen::bench {

using Bytes = std::vector<uint8_t>;

// 256 MiB of text runs, structured binary records and random bytes, mixed.
const Bytes& SampleData();

// A single-entry archive and where its entry's data lies inside it.
struct SingleEntryArchive {
  TMemoryStream stream;
  std::string name;
  int64_t dataOffset = 0;
  int64_t dataSize = 0;
  uint32_t crc32 = 0;
};

// SampleData deflated at zlib's default level, and stored.
SingleEntryArchive& DeflateArchive();
SingleEntryArchive& StoredArchive();

// An archive of many empty stored entries named NameAt(i).
constexpr int32_t kManyEntries = 100000;
std::string NameAt(int32_t i);
TMemoryStream& ManyEntriesArchive();

// One output buffer of SampleData's size, already touched, shared by the reference readers.
Bytes& ReferenceOutput();

}  // namespace lumen::bench
