// MD5 throughput: our digest against OpenSSL's over the same 64 MiB buffer in the same run,
// and the file digest the update check runs, over a 256 MiB file.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "platform/stream.h"

namespace lumen {
namespace {

constexpr size_t kBufferSize = size_t{64} << 20;
constexpr int64_t kFileSize = int64_t{256} << 20;

const std::vector<uint8_t>& Buffer() {
  static const std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> b(kBufferSize);
    uint32_t x = 0x9E3779B9u;
    for (uint8_t& byte : b) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      byte = static_cast<uint8_t>(x >> 24);
    }
    return b;
  }();
  return buffer;
}

DigestValue OpenSslMd5(const uint8_t* data, size_t length) {
  DigestValue out{};
  unsigned int len = 0;
  if (EVP_Digest(data, length, out.data(), &len, EVP_md5(), nullptr) != 1) {
    throw std::runtime_error("EVP_Digest failed");
  }
  return out;
}

void BM_DigestBytes(benchmark::State& state) {
  const auto& buffer = Buffer();
  for (auto _ : state) {
    DigestValue d = DigestBytes(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_DigestBytes)->Unit(benchmark::kMillisecond);

void BM_OpenSslMd5(benchmark::State& state) {
  const auto& buffer = Buffer();
  for (auto _ : state) {
    DigestValue d = OpenSslMd5(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_OpenSslMd5)->Unit(benchmark::kMillisecond);

// Both digests in every iteration, in alternating order, so that frequency changes and
// neighbours on a shared machine weigh on both alike. The reported time and throughput are
// ours; "ratio" is our throughput divided by OpenSSL's (1.0 = as fast).
void BM_DigestBytesVsOpenSsl(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto& buffer = Buffer();
  double ours = 0;
  double theirs = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    auto timeOurs = [&] {
      const auto t0 = Clock::now();
      DigestValue d = DigestBytes(buffer.data(), buffer.size());
      benchmark::DoNotOptimize(d);
      return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    auto timeTheirs = [&] {
      const auto t0 = Clock::now();
      DigestValue d = OpenSslMd5(buffer.data(), buffer.size());
      benchmark::DoNotOptimize(d);
      return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    double a = 0;
    double b = 0;
    if (oursFirst) {
      a = timeOurs();
      b = timeTheirs();
    } else {
      b = timeTheirs();
      a = timeOurs();
    }
    oursFirst = !oursFirst;
    ours += a;
    theirs += b;
    state.SetIterationTime(a);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
  state.counters["ratio"] = ours > 0 ? theirs / ours : 0;
}
BENCHMARK(BM_DigestBytesVsOpenSsl)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// A temporary file of kFileSize bytes, removed when the program ends.
class TempFile {
 public:
  TempFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/lumen_md5_bench_XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create " + pattern);
    ::close(fd);
    path_ = pattern;
    TFileStream out(path_, TFileMode::fmCreate);
    const auto& buffer = Buffer();
    for (int64_t done = 0; done < kFileSize; done += static_cast<int64_t>(buffer.size())) {
      out.WriteBuffer(buffer.data(), static_cast<int64_t>(buffer.size()));
    }
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void BM_GetMD5_File(benchmark::State& state) {
  static const TempFile file;
  for (auto _ : state) {
    std::string hex = GetMD5_File(file.Path());
    benchmark::DoNotOptimize(hex);
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_GetMD5_File)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumen
