// Extraction throughput and name lookup, each against a reference in the same iteration: plain
// zlib inflate and memcpy + CRC-32 as the floor a reader cannot beat, libzip as the reader a user
// might pick instead. The reported time is ours; "ratio" is our throughput divided by the
// reference's (1.0 = as fast, above 1 = faster), both taken as CPU time of the thread.
#include <benchmark/benchmark.h>
#include <zip.h>
#include <zlib.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>

#include "archive/crc32.h"
#include "archive/dir_array.h"
#include "archive/dir_manager.h"
#include "archive/zip_archiver.h"
#include "bench/bench_archives.h"
#include "platform/codepage.h"

namespace lumen::bench {
namespace {

// CPU time of this thread rather than wall time: the machine is shared, and time spent waiting
// for a core says nothing about either reader.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& work) {
  const double t0 = ThreadSeconds();
  work();
  return ThreadSeconds() - t0;
}

// Runs both in every iteration, in alternating order, so that frequency changes and neighbours
// on a shared machine weigh on both alike.
void Paired(benchmark::State& state, const std::function<void()>& ours,
            const std::function<void()>& reference, int64_t bytesPerIteration) {
  double oursTotal = 0;
  double referenceTotal = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    double a = 0;
    double b = 0;
    if (oursFirst) {
      a = Seconds(ours);
      b = Seconds(reference);
    } else {
      b = Seconds(reference);
      a = Seconds(ours);
    }
    oursFirst = !oursFirst;
    oursTotal += a;
    referenceTotal += b;
    state.SetIterationTime(a);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytesPerIteration);
  state.counters["ratio"] = oursTotal > 0 ? referenceTotal / oursTotal : 0;
  const double mib =
      static_cast<double>(bytesPerIteration) / (1 << 20) * static_cast<double>(state.iterations());
  if (bytesPerIteration > 0) {
    state.counters["ours_MiBps"] = mib / oursTotal;
    state.counters["ref_MiBps"] = mib / referenceTotal;
  }
}

// The output stream keeps its memory from one iteration to the next, as the references'
// preallocated buffer does.
TMemoryStream& OurOutput() {
  static TMemoryStream out;
  return out;
}

void ExtractWithArchiver(SingleEntryArchive& archive) {
  TMemoryStream& out = OurOutput();
  out.SetSize(0);
  TZipArchiver archiver;
  archiver.OpenFromStream(archive.stream);
  archiver.ExtractEntryTo(AnsiToWide(archive.name), out);
  archiver.CloseCurrent();
  benchmark::DoNotOptimize(out.Memory());
}

void CheckOurs(const SingleEntryArchive& archive) {
  TMemoryStream& out = OurOutput();
  const Bytes& sample = SampleData();
  if (out.Size() != static_cast<int64_t>(sample.size()) ||
      std::memcmp(out.Memory(), sample.data(), sample.size()) != 0) {
    throw std::runtime_error("extraction of " + archive.name + " gave different bytes");
  }
}

void InflateFloor(SingleEntryArchive& archive) {
  Bytes& out = ReferenceOutput();
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("inflateInit2 failed");
  z.next_in = const_cast<uint8_t*>(archive.stream.Memory() + archive.dataOffset);
  z.avail_in = static_cast<uInt>(archive.dataSize);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("inflate did not finish");
  benchmark::DoNotOptimize(out.data());
}

void CopyAndCrcFloor(SingleEntryArchive& archive) {
  Bytes& out = ReferenceOutput();
  const uint8_t* data = archive.stream.Memory() + archive.dataOffset;
  std::memcpy(out.data(), data, static_cast<size_t>(archive.dataSize));
  const uint32_t crc = Crc32Of(out.data(), static_cast<size_t>(archive.dataSize));
  if (crc != archive.crc32) throw std::runtime_error("CRC-32 differs");
  benchmark::DoNotOptimize(out.data());
}

// libzip opened over the archive's bytes in memory, as the reader under test gets them.
zip_t* OpenWithLibzip(TMemoryStream& stream) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(
      stream.Memory(), static_cast<zip_uint64_t>(stream.Size()), 0, &error);
  if (source == nullptr) throw std::runtime_error("zip_source_buffer_create failed");
  zip_t* za = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (za == nullptr) {
    zip_source_free(source);
    throw std::runtime_error("zip_open_from_source failed");
  }
  return za;
}

void ExtractWithLibzip(SingleEntryArchive& archive) {
  Bytes& out = ReferenceOutput();
  zip_t* za = OpenWithLibzip(archive.stream);
  zip_file_t* file = zip_fopen(za, archive.name.c_str(), 0);
  if (file == nullptr) throw std::runtime_error("zip_fopen failed");
  zip_uint64_t done = 0;
  for (;;) {
    const zip_int64_t n = zip_fread(file, out.data() + done, out.size() - done);
    if (n < 0) throw std::runtime_error("zip_fread failed");
    if (n == 0) break;
    done += static_cast<zip_uint64_t>(n);
  }
  zip_fclose(file);
  zip_discard(za);
  if (done != out.size()) throw std::runtime_error("libzip gave a different size");
  benchmark::DoNotOptimize(out.data());
}

template <typename Reference>
void ExtractVs(benchmark::State& state, SingleEntryArchive& archive, Reference reference) {
  try {
    ExtractWithArchiver(archive);
    CheckOurs(archive);
    reference(archive);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  Paired(
      state, [&] { ExtractWithArchiver(archive); }, [&] { reference(archive); },
      static_cast<int64_t>(SampleData().size()));
}

void BM_ExtractDeflateVsZlibInflate(benchmark::State& state) {
  ExtractVs(state, DeflateArchive(), InflateFloor);
}
BENCHMARK(BM_ExtractDeflateVsZlibInflate)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);

void BM_ExtractDeflateVsLibzip(benchmark::State& state) {
  ExtractVs(state, DeflateArchive(), ExtractWithLibzip);
}
BENCHMARK(BM_ExtractDeflateVsLibzip)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_ExtractStoredVsMemcpyCrc(benchmark::State& state) {
  ExtractVs(state, StoredArchive(), CopyAndCrcFloor);
}
BENCHMARK(BM_ExtractStoredVsMemcpyCrc)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);

void BM_ExtractStoredVsLibzip(benchmark::State& state) {
  ExtractVs(state, StoredArchive(), ExtractWithLibzip);
}
BENCHMARK(BM_ExtractStoredVsLibzip)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Opening the archive of many entries and looking up state.range(0) of its names, spread evenly,
// in upper case. libzip looks a name up without regard to case by scanning its whole directory,
// so the paired run takes a sample; the ours-only run looks up every name.
std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

int32_t OpenAndFind(int32_t lookups) {
  TMemoryStream& stream = ManyEntriesArchive();
  TZipArchiver archiver;
  archiver.OpenFromStream(stream);
  TZADirArray& directory = archiver.DirManager()->Directory();
  const int32_t step = kManyEntries / lookups;
  int32_t found = 0;
  for (int32_t i = 0; i < kManyEntries; i += step) {
    int32_t index = -1;
    if (directory.FindName(AnsiToWide(Upper(NameAt(i))), index) && index == i) ++found;
  }
  archiver.CloseCurrent();
  return found;
}

int32_t OpenAndFindLibzip(int32_t lookups) {
  zip_t* za = OpenWithLibzip(ManyEntriesArchive());
  const int32_t step = kManyEntries / lookups;
  int32_t found = 0;
  for (int32_t i = 0; i < kManyEntries; i += step) {
    if (zip_name_locate(za, Upper(NameAt(i)).c_str(), ZIP_FL_NOCASE) == i) ++found;
  }
  zip_discard(za);
  return found;
}

void BM_OpenAndFindNamesVsLibzip(benchmark::State& state) {
  const auto lookups = static_cast<int32_t>(state.range(0));
  try {
    if (OpenAndFind(lookups) != lookups || OpenAndFindLibzip(lookups) != lookups) {
      throw std::runtime_error("a name was not found where it is");
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  Paired(
      state, [&] { benchmark::DoNotOptimize(OpenAndFind(lookups)); },
      [&] { benchmark::DoNotOptimize(OpenAndFindLibzip(lookups)); }, 0);
  state.counters["lookups"] = lookups;
}
BENCHMARK(BM_OpenAndFindNamesVsLibzip)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

void BM_OpenAndFindAllNames(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OpenAndFind(kManyEntries));
  state.counters["lookups"] = kManyEntries;
}
BENCHMARK(BM_OpenAndFindAllNames)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumen::bench
