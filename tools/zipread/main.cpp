// zipread: lists, extracts and tests ZIP archives with the updater's own reader, so that people
// who publish updates see what the updater will see.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/zipread/commands.h"

namespace {

constexpr int kUsageStatus = 2;

const char kUsage[] =
    "usage: zipread list ARCHIVE\n"
    "       zipread extract ARCHIVE NAME [-o FILE] [-p PASSWORD]\n"
    "       zipread test ARCHIVE [-p PASSWORD]\n"
    "\n"
    "list     one line per entry: name, method, size, compressed size, CRC-32, encrypted or -\n"
    "extract  the entry the updater would find for NAME, to FILE or standard output\n"
    "test     extracts every entry without keeping it and prints ok or the failure\n"
    "Without -p an encrypted entry fails, unless standard input is a terminal to ask on.\n"
    "Exit status: 0 success, 1 the archive or an entry failed, 2 bad usage.\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "zipread: %s\n", problem);
  std::fputs(kUsage, stderr);
  return kUsageStatus;
}

}  // namespace

int main(int argc, char** argv) {
  using lumen::tools::TZipreadRequest;
  std::vector<std::string> positional;
  TZipreadRequest request;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;  // what follows may begin with "-", like an entry named "-x"
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-o" || arg == "-p") {
      if (i + 1 >= argc) return Usage(("option " + arg + " needs a value").c_str());
      std::optional<std::string>& slot = arg == "-o" ? request.output : request.password;
      if (slot) return Usage(("option " + arg + " given twice").c_str());
      slot = argv[++i];
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  if (positional.empty()) return Usage("no command given");
  const std::string command = positional[0];
  const size_t operands = positional.size() - 1;
  if (command == "list") {
    if (operands != 1) return Usage("list takes one ARCHIVE");
    if (request.output || request.password) return Usage("list takes no options");
  } else if (command == "extract") {
    if (operands != 2) return Usage("extract takes ARCHIVE and NAME");
    request.entryName = positional[2];
  } else if (command == "test") {
    if (operands != 1) return Usage("test takes one ARCHIVE");
    if (request.output) return Usage("test takes no -o");
  } else {
    return Usage(("unknown command " + command).c_str());
  }
  request.archive = positional[1];
  if (command == "list") return lumen::tools::ListCommand(request);
  if (command == "extract") return lumen::tools::ExtractCommand(request);
  return lumen::tools::TestCommand(request);
}
