// Running the built tools (and archive writers) as child processes and collecting what they say.
#pragma once

#include <string>
#include <vector>

#include "tests/support/reference_md5.h"

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

// File helpers for test folders.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
// A fresh folder under the test temporary folder.
std::string MakeTempFolder(const std::string& stem);

// CRC-32 of bytes as lower-case hex, computed by zlib rather than by the code under test.
std::string ReferenceCrc32Hex(const std::string& bytes);

}  // namespace lumen::test
