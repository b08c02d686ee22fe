// Writes the benchmarks' sample data to a file, so that whole-program comparisons read the same
// bytes as the in-process benchmarks.
#include <cstdio>
#include <exception>

#include "bench/bench_archives.h"
#include "platform/stream.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-FILE\n", argv[0]);
    return 2;
  }
  try {
    const lumen::bench::Bytes& data = lumen::bench::SampleData();
    lumen::TFileStream out(argv[1], lumen::TFileMode::fmCreate);
    out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
