// publish-release: makes the archive and digest an update server serves from a new build of the
// companion program, and checks a published pair the way the updater will read it.
#include <cstdio>
#include <exception>
#include <string>

#include "tools/publish-release/release.h"

namespace {

const char kUsage[] =
    "usage: publish-release EXECUTABLE FOLDER\n"
    "       publish-release --check FOLDER\n"
    "\n"
    "Writes FOLDER/Lumen_Courier.zip (one deflated entry Lumen_Courier.exe) and FOLDER/update.md5\n"
    "(its MD5, 32 lower-case hex digits), checks both with the updater's own reader and only then\n"
    "replaces the files there. --check runs the same check on the pair already in FOLDER.\n"
    "Exit status: 0 success, 1 refused or failed (the reason on standard error), 2 bad usage.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "publish-release: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lumen::tools;
  if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 3) return Usage("expected two arguments");
  const std::string first = argv[1];
  const std::string folder = argv[2];
  try {
    if (first == "--check") {
      const std::string digest =
          CheckReleasePair(folder + "/" + kReleaseArchiveName, folder + "/" + kReleaseDigestName);
      std::printf("ok\t%s\n", digest.c_str());
    } else {
      if (!first.empty() && first[0] == '-') return Usage(("unknown option " + first).c_str());
      const std::string digest = PublishRelease(first, folder);
      std::printf("published %s/%s and %s/%s\t%s\n", folder.c_str(), kReleaseArchiveName,
                  folder.c_str(), kReleaseDigestName, digest.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "publish-release: %s\n", e.what());
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
