// Deterministic sample data and the archives built around it for the extraction benchmarks.
#include "bench/bench_archives.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <string_view>

namespace lumen::bench {

namespace {

constexpr size_t kSampleSize = size_t{256} << 20;

class XorShift {
 public:
  uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
  }

 private:
  uint32_t x_ = 0x2545F491u;
};

constexpr std::array<std::string_view, 24> kWords = {
    "the",     "update",  "archive", "entry", "server", "version", "file",   "release",
    "install", "courier", "lumen",   "check", "digest", "window",  "stream", "progress",
    "of",      "and",     "to",      "a",     "in",     "is",      "data",   "size"};

void AppendText(Bytes& out, size_t n, XorShift& rng) {
  const size_t end = std::min(out.size() + n, kSampleSize);
  size_t column = 0;
  while (out.size() < end) {
    const std::string_view w = kWords[rng.Next() % kWords.size()];
    for (char c : w) {
      if (out.size() < end) out.push_back(static_cast<uint8_t>(c));
    }
    column += w.size() + 1;
    if (out.size() < end) out.push_back(column > 72 ? '\n' : ' ');
    if (column > 72) column = 0;
  }
}

void AppendRecords(Bytes& out, size_t n, XorShift& rng) {
  const size_t end = std::min(out.size() + n, kSampleSize);
  uint32_t counter = rng.Next() & 0xFFFF;
  while (out.size() < end) {
    counter += 1 + (rng.Next() & 7);
    const uint32_t fields[4] = {counter, rng.Next() & 0xFF, 0x00400000u + (counter << 4), 0};
    for (uint32_t f : fields) {
      for (int b = 0; b < 4 && out.size() < end; ++b)
        out.push_back(static_cast<uint8_t>(f >> (8 * b)));
    }
  }
}

void AppendRandom(Bytes& out, size_t n, XorShift& rng) {
  const size_t end = std::min(out.size() + n, kSampleSize);
  while (out.size() < end) out.push_back(static_cast<uint8_t>(rng.Next() >> 24));
}

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

struct EntrySpec {
  std::string name;
  uint16_t method = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
};

// Local header for one entry; the caller appends the data.
void PutLocalHeader(Bytes& out, const EntrySpec& e) {
  Put32(out, 0x04034B50);
  Put16(out, 20);
  Put16(out, 0);
  Put16(out, e.method);
  Put16(out, 0x6000);
  Put16(out, 0x5A21);
  Put32(out, e.crc32);
  Put32(out, static_cast<uint32_t>(e.compressedSize));
  Put32(out, static_cast<uint32_t>(e.size));
  Put16(out, static_cast<uint32_t>(e.name.size()));
  Put16(out, 0);
  out.insert(out.end(), e.name.begin(), e.name.end());
}

void PutCentralHeader(Bytes& out, const EntrySpec& e, uint32_t localOffset) {
  Put32(out, 0x02014B50);
  Put16(out, 20);
  Put16(out, 20);
  Put16(out, 0);
  Put16(out, e.method);
  Put16(out, 0x6000);
  Put16(out, 0x5A21);
  Put32(out, e.crc32);
  Put32(out, static_cast<uint32_t>(e.compressedSize));
  Put32(out, static_cast<uint32_t>(e.size));
  Put16(out, static_cast<uint32_t>(e.name.size()));
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 0x20);
  Put32(out, localOffset);
  out.insert(out.end(), e.name.begin(), e.name.end());
}

void PutEndRecord(Bytes& out, uint32_t entries, uint32_t centralSize, uint32_t centralOffset) {
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, entries);
  Put16(out, entries);
  Put32(out, centralSize);
  Put32(out, centralOffset);
  Put16(out, 0);
}

void ToStream(const Bytes& bytes, TMemoryStream& stream) {
  stream.SetSize(0);
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
}

Bytes DeflateRaw(const Bytes& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  Bytes out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytes::value_type*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

void BuildSingle(SingleEntryArchive& archive, const std::string& name, uint16_t method) {
  const Bytes& sample = SampleData();
  EntrySpec e;
  e.name = name;
  e.method = method;
  e.crc32 = static_cast<uint32_t>(crc32(0, sample.data(), static_cast<uInt>(sample.size())));
  e.size = sample.size();
  Bytes bytes;
  Bytes deflated;
  if (method == 8) deflated = DeflateRaw(sample);
  const Bytes& data = method == 8 ? deflated : sample;
  e.compressedSize = data.size();
  bytes.reserve(data.size() + 256);
  PutLocalHeader(bytes, e);
  archive.dataOffset = static_cast<int64_t>(bytes.size());
  bytes.insert(bytes.end(), data.begin(), data.end());
  const auto centralOffset = static_cast<uint32_t>(bytes.size());
  PutCentralHeader(bytes, e, 0);
  PutEndRecord(bytes, 1, static_cast<uint32_t>(bytes.size()) - centralOffset, centralOffset);
  ToStream(bytes, archive.stream);
  archive.name = name;
  archive.dataSize = static_cast<int64_t>(data.size());
  archive.crc32 = e.crc32;
}

}  // namespace

const Bytes& SampleData() {
  static const Bytes data = [] {
    Bytes d;
    d.reserve(kSampleSize);
    XorShift rng;
    // Pieces of 4 to 132 KiB: half text, three tenths records, a fifth incompressible.
    while (d.size() < kSampleSize) {
      const size_t piece = 4096 + (rng.Next() % (128 * 1024));
      const uint32_t kind = rng.Next() % 10;
      if (kind < 5) {
        AppendText(d, piece, rng);
      } else if (kind < 8) {
        AppendRecords(d, piece, rng);
      } else {
        AppendRandom(d, piece, rng);
      }
    }
    return d;
  }();
  return data;
}

SingleEntryArchive& DeflateArchive() {
  static SingleEntryArchive archive;
  static const bool built = (BuildSingle(archive, "data/sample.bin", 8), true);
  (void)built;
  return archive;
}

SingleEntryArchive& StoredArchive() {
  static SingleEntryArchive archive;
  static const bool built = (BuildSingle(archive, "data/sample.bin", 0), true);
  (void)built;
  return archive;
}

std::string NameAt(int32_t i) {
  char name[64];
  std::snprintf(name, sizeof name, "Program/Module%03d/Resource_%06d.dat", i % 977, i);
  return name;
}

TMemoryStream& ManyEntriesArchive() {
  static TMemoryStream stream;
  static const bool built = [] {
    Bytes bytes;
    Bytes central;
    const uint32_t emptyCrc = 0;
    for (int32_t i = 0; i < kManyEntries; ++i) {
      EntrySpec e;
      e.name = NameAt(i);
      e.crc32 = emptyCrc;
      const auto offset = static_cast<uint32_t>(bytes.size());
      PutLocalHeader(bytes, e);
      PutCentralHeader(central, e, offset);
    }
    const auto centralOffset = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), central.begin(), central.end());
    // More entries than the classic end record can count: the Zip64 end record carries them.
    const auto zip64EndOffset = static_cast<uint32_t>(bytes.size());
    Put32(bytes, 0x06064B50);
    Put32(bytes, 44);  // record size, 64-bit
    Put32(bytes, 0);
    Put16(bytes, 45);
    Put16(bytes, 45);
    Put32(bytes, 0);
    Put32(bytes, 0);
    for (int k = 0; k < 2; ++k) {  // entries on this disk, entries in all
      Put32(bytes, kManyEntries);
      Put32(bytes, 0);
    }
    Put32(bytes, static_cast<uint32_t>(central.size()));
    Put32(bytes, 0);
    Put32(bytes, centralOffset);
    Put32(bytes, 0);
    Put32(bytes, 0x07064B50);
    Put32(bytes, 0);
    Put32(bytes, zip64EndOffset);
    Put32(bytes, 0);
    Put32(bytes, 1);
    PutEndRecord(bytes, 0xFFFF, static_cast<uint32_t>(central.size()), centralOffset);
    ToStream(bytes, stream);
    return true;
  }();
  (void)built;
  return stream;
}

Bytes& ReferenceOutput() {
  static Bytes out(kSampleSize, 0);
  return out;
}

}  // namespace lumen::bench
