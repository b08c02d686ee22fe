// The pair of files an update server publishes, made and checked the way the updater will use
// them: "Lumen_Courier.zip" holding the entry "Lumen_Courier.exe", and "update.md5" holding that
// entry's MD5 as exactly 32 lower-case hex digits.
//
// Contract: both operations raise EReleaseRefused, whose message tells a person what is wrong and
// what the updater would do with it. PublishRelease never leaves a pair behind that failed the
// check: it writes under temporary names and renames into place only after checking them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace lumen::tools {

inline constexpr char kReleaseArchiveName[] = "Lumen_Courier.zip";
inline constexpr char kReleaseDigestName[] = "update.md5";
inline constexpr char kReleaseEntryName[] = "Lumen_Courier.exe";

class EReleaseRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Checks an archive and a digest file as the updater's check and installation would read them;
// returns the digest of the entry the updater would install.
std::string CheckReleasePair(const std::string& archivePath, const std::string& digestPath);

// Publishes executablePath into folder as the two files above, replacing an older pair.
// Returns the digest written.
std::string PublishRelease(const std::string& executablePath, const std::string& folder);

}  // namespace lumen::tools
