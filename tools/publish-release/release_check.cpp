// The release check: the digest text as the update check compares it, and the entry as the
// installation extracts it.
#include <cctype>
#include <exception>
#include <string>

#include "digest/md5.h"
#include "platform/codepage.h"
#include "platform/stream.h"
#include "tools/common/archive_in_memory.h"
#include "tools/publish-release/release.h"

namespace lumen::tools {

namespace {

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// The update check compares the served text with the local digest byte for byte, so anything but
// the 32 lower-case digits means every user is offered the update on every check.
std::string ReadDigestText(const std::string& digestPath) {
  TMemoryStream file;
  try {
    file.LoadFromFile(digestPath);
  } catch (const std::exception& e) {
    throw EReleaseRefused(std::string(kReleaseDigestName) + ": " + FailureText(e));
  }
  const std::string text(reinterpret_cast<const char*>(file.Memory()),
                         static_cast<size_t>(file.Size()));
  const std::string forever = "; the updater would offer the update on every check";
  size_t digits = 0;
  while (digits < text.size() && std::isxdigit(static_cast<unsigned char>(text[digits]))) {
    ++digits;
  }
  if (digits == 32 && text.size() > 32) {
    const bool whitespace = text.find_first_not_of(" \t\r\n", 32) == std::string::npos;
    throw EReleaseRefused(std::string(kReleaseDigestName) + " has " +
                          std::to_string(text.size() - 32) + " byte(s) after the digest" +
                          (whitespace ? " (a line break or spaces)" : "") + forever);
  }
  if (digits != 32 || text.size() != 32) {
    throw EReleaseRefused(std::string(kReleaseDigestName) +
                          " must hold exactly 32 hex digits and nothing else" + forever);
  }
  for (char c : text) {
    if (!IsLowerHex(c)) {
      throw EReleaseRefused(std::string(kReleaseDigestName) + " has upper-case hex digits" +
                            forever);
    }
  }
  return text;
}

}  // namespace

std::string CheckReleasePair(const std::string& archivePath, const std::string& digestPath) {
  const std::string published = ReadDigestText(digestPath);
  const std::string cannotInstall = "; the updater could not install this release";

  TMemoryStream entry;
  bool encrypted = false;
  try {
    TArchiveInMemory archive(archivePath);
    // The updater sets no password; an encrypted entry would put a password prompt in front of
    // every user. Skipping here keeps the check from ever waiting for one.
    archive.Archiver().OnPassword = [&encrypted](TZABaseArchiver&, const std::u16string&,
                                                 std::string&, bool& skipFile) {
      encrypted = true;
      skipFile = true;
    };
    archive.Extract(AnsiToWide(kReleaseEntryName), entry);
  } catch (const std::exception& e) {
    throw EReleaseRefused(std::string(kReleaseArchiveName) + ": " + FailureText(e) + cannotInstall);
  }
  if (encrypted) {
    throw EReleaseRefused(std::string(kReleaseArchiveName) + ": the entry " + kReleaseEntryName +
                          " is encrypted; the updater would ask every user for a password");
  }
  if (entry.Size() == 0) {
    throw EReleaseRefused(std::string(kReleaseArchiveName) + ": the entry " + kReleaseEntryName +
                          " is empty" + cannotInstall);
  }
  const std::string actual =
      DigestToLowerHex(DigestBytes(entry.Memory(), static_cast<size_t>(entry.Size())));
  if (actual != published) {
    throw EReleaseRefused(std::string(kReleaseDigestName) + " says " + published + " but " +
                          kReleaseEntryName + " in " + kReleaseArchiveName + " has MD5 " + actual +
                          "; the updater would offer the update on every check");
  }
  return actual;
}

}  // namespace lumen::tools
