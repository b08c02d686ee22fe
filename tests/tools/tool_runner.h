// Running the built tools (and archive writers) as child processes and collecting what they say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/reference_md5.h"
#include "tests/support/scratch_dir.h"

namespace lumen::test {

struct TRunResult {
  int exitCode = -1;  // the exit status, or -1 when the process ended by a signal
  std::string out;
  std::string err;
};

// Runs program (a path, or a name looked up in PATH) with args, feeding stdinBytes to its
// standard input (which is therefore never a terminal), in workDir when one is given.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdinBytes = {}, const std::string& workDir = {});

// The path of a built tool: build/tools/<name>.
std::string ToolPath(const std::string& name);
// A path inside the archive corpus.
std::string CorpusPath(const std::string& relative);

// Bytes that deflate cannot shrink, the same for the same seed.
std::string NoiseOf(size_t size, uint32_t seed);

// Writes the files (name and content, names relative to folder) into folder and zips them there
// with Info-ZIP zip and the given options into archiveName; returns the archive's path.
std::string ZipWithInfoZip(const std::string& folder, const std::string& archiveName,
                           const std::vector<std::pair<std::string, std::string>>& files,
                           const std::vector<std::string>& options = {});

// CRC-32 of bytes as lower-case hex, computed by zlib rather than by the code under test.
std::string ReferenceCrc32Hex(const std::string& bytes);

}  // namespace lumen::test
