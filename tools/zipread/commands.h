// The three zipread commands. Each writes its results to standard output, its failures to
// standard error, and returns the exit status: 0 success, 1 the archive or an entry failed.
#pragma once

#include <optional>
#include <string>

namespace lumen::tools {

struct TZipreadRequest {
  std::string archive;
  std::string entryName;                // extract: UTF-8
  std::optional<std::string> output;    // extract: file to write; standard output when absent
  std::optional<std::string> password;  // UTF-8
};

int ListCommand(const TZipreadRequest& request);
int ExtractCommand(const TZipreadRequest& request);
int TestCommand(const TZipreadRequest& request);

}  // namespace lumen::tools
