// Throughput of the two entry ciphers over a 1 MiB chunk, the size extraction decrypts at once.
#include <benchmark/benchmark.h>

#include <vector>

#include "archive/aes_transform.h"
#include "archive/pkware_cipher.h"

namespace lumen {
namespace {

constexpr size_t kChunk = 1 << 20;

void BM_PkwareDecrypt(benchmark::State& state) {
  std::vector<uint8_t> data(kChunk, 0x5A);
  TPkwareCipher cipher("secret");
  for (auto _ : state) {
    cipher.Decrypt(data.data(), data.size());
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_PkwareDecrypt);

void BM_AesDecrypt(benchmark::State& state) {
  std::vector<uint8_t> data(kChunk, 0x5A);
  TAESCryptoTransform transform(static_cast<int>(state.range(0)), "secret");
  const std::vector<uint8_t> salt(transform.SaltSize(), 0x11);
  const uint8_t verifier[2] = {0, 0};
  transform.SetHeader(salt, verifier);
  for (auto _ : state) {
    transform.DecryptInPlace(data.data(), data.size());
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_AesDecrypt)->Arg(128)->Arg(256);

}  // namespace
}  // namespace lumen
