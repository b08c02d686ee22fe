// Extraction of one deflated entry from an archive in memory into a new memory stream, as the
// updater does it, against zlib's raw inflate of the same data, into a ready buffer and into a
// new one. What separates extraction from the fresh-buffer case is the reader's own work: the
// Adler-32 that zlib keeps for the zlib header put in front of the data, the CRC-32 check, and
// copying out of the 1 MiB inflate buffer; with a ready buffer, first-touch page faults add to
// the difference.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "platform/stream.h"

namespace lumen {
namespace {

using Bytes = std::vector<uint8_t>;

// Text with the redundancy of an executable's data: compresses about 3:1.
Bytes Content(size_t size) {
  Bytes data(size);
  uint32_t x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245 + 12345;
    data[i] = (x >> 16) % 7 == 0 ? static_cast<uint8_t>(x >> 24)
                                 : static_cast<uint8_t>("abcdefgh"[(x >> 20) & 7]);
  }
  return data;
}

Bytes DeflateRaw(const Bytes& in) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflate");
  Bytes out(deflateBound(&z, in.size()));
  z.next_in = const_cast<uint8_t*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void Put16(Bytes& b, uint16_t v) {
  b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, uint16_t(v));
  Put16(b, uint16_t(v >> 16));
}

// One entry "entry.bin", deflated, with its local header, central header and end record.
Bytes Archive(const Bytes& content, const Bytes& packed) {
  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size())));
  const std::string name = "entry.bin";
  Bytes b;
  auto common = [&] {
    Put16(b, 20);
    Put16(b, 0);
    Put16(b, 8);
    Put16(b, 0);
    Put16(b, 0x5A21);
    Put32(b, crc);
    Put32(b, uint32_t(packed.size()));
    Put32(b, uint32_t(content.size()));
    Put16(b, uint16_t(name.size()));
    Put16(b, 0);
  };
  Put32(b, 0x04034b50);
  common();
  b.insert(b.end(), name.begin(), name.end());
  b.insert(b.end(), packed.begin(), packed.end());
  const uint32_t central = uint32_t(b.size());
  Put32(b, 0x02014b50);
  Put16(b, 20);
  common();
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, 0);
  Put32(b, 0x20);
  Put32(b, 0);
  b.insert(b.end(), name.begin(), name.end());
  const uint32_t centralSize = uint32_t(b.size()) - central;
  Put32(b, 0x06054b50);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, 1);
  Put16(b, 1);
  Put32(b, centralSize);
  Put32(b, central);
  Put16(b, 0);
  return b;
}

struct Fixture {
  Bytes content = Content(64 << 20);
  Bytes packed = DeflateRaw(content);
  Bytes archive = Archive(content, packed);
};

const Fixture& Data() {
  static const Fixture fixture;
  return fixture;
}

void BM_RawInflate(benchmark::State& state) {
  const Fixture& f = Data();
  Bytes out(f.content.size());
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(f.packed.data());
    z.avail_in = static_cast<uInt>(f.packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate");
    inflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.content.size()));
}
BENCHMARK(BM_RawInflate)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_ExtractEntryTo(benchmark::State& state) {
  const Fixture& f = Data();
  TMemoryStream archive;
  archive.WriteBuffer(f.archive.data(), int64_t(f.archive.size()));
  TZipArchiver archiver;
  archiver.OpenFromStream(archive);
  for (auto _ : state) {
    TMemoryStream out;
    archiver.ExtractEntryTo(u"entry.bin", out);
    if (out.Size() != int64_t(f.content.size())) state.SkipWithError("size");
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.content.size()));
}
BENCHMARK(BM_ExtractEntryTo)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_RawInflateFreshBuffer(benchmark::State& state) {
  const Fixture& f = Data();
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[f.content.size()]);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(f.packed.data());
    z.avail_in = static_cast<uInt>(f.packed.size());
    z.next_out = out.get();
    z.avail_out = static_cast<uInt>(f.content.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate");
    inflateEnd(&z);
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.content.size()));
}
BENCHMARK(BM_RawInflateFreshBuffer)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace
}  // namespace lumen
