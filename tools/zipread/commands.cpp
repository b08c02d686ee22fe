// zipread's commands, each reading the archive exactly as the updater reads its download.
#include "tools/zipread/commands.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <memory>

#include "platform/codepage.h"
#include "platform/stream.h"
#include "tools/common/archive_in_memory.h"
#include "tools/zipread/password_source.h"
#include "tools/zipread/terminal_prompt.h"

namespace lumen::tools {

namespace {

void Fail(const std::string& text) {
  std::fprintf(stderr, "zipread: %s\n", text.c_str());
}

// Standard output carries raw entry bytes here, so it is written without any stdio translation
// and a short write is an error, not silent truncation.
bool WriteStdout(const uint8_t* data, int64_t size) {
  std::fflush(stdout);
  int64_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(STDOUT_FILENO, data + done, static_cast<size_t>(size - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += put;
  }
  return true;
}

TPasswordSource MakePasswordSource(const TZipreadRequest& request) {
  return TPasswordSource(request.password, !request.password && StdinIsTerminal());
}

}  // namespace

int ListCommand(const TZipreadRequest& request) {
  std::unique_ptr<TArchiveInMemory> archive;
  try {
    archive = std::make_unique<TArchiveInMemory>(request.archive);
    for (const TEntryInfo& entry : archive->Entries()) {
      std::printf("%s\t%u\t%" PRIu64 "\t%" PRIu64 "\t%08" PRIx32 "\t%s\n",
                  WideToUtf8(entry.name).c_str(), static_cast<unsigned>(entry.method), entry.size,
                  entry.compressedSize, entry.crc32, entry.encrypted ? "encrypted" : "-");
    }
  } catch (const std::exception& e) {
    Fail(FailureText(e));
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int ExtractCommand(const TZipreadRequest& request) {
  TPasswordSource passwords = MakePasswordSource(request);
  TMemoryStream content;
  try {
    TArchiveInMemory archive(request.archive);
    passwords.Attach(archive.Archiver());
    passwords.BeginEntry();
    archive.Extract(Utf8ToWide(request.entryName), content);
  } catch (const std::exception& e) {
    Fail(FailureText(e));
    return 1;
  }
  if (!passwords.Refusal().empty()) {
    Fail(request.entryName + ": " + passwords.Refusal());
    return 1;
  }
  // Only a complete, checked extraction reaches a file or standard output.
  if (request.output) {
    try {
      content.SaveToFile(*request.output);
    } catch (const std::exception& e) {
      Fail(FailureText(e));
      return 1;
    }
    return 0;
  }
  if (!WriteStdout(content.Memory(), content.Size())) {
    Fail("cannot write to standard output");
    return 1;
  }
  return 0;
}

int TestCommand(const TZipreadRequest& request) {
  TPasswordSource passwords = MakePasswordSource(request);
  int status = 0;
  try {
    TArchiveInMemory archive(request.archive);
    passwords.Attach(archive.Archiver());
    const std::vector<TEntryInfo> entries = archive.Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
      const std::string name = WideToUtf8(entries[i].name);
      std::string verdict = "ok";
      passwords.BeginEntry();
      try {
        TDiscardStream nowhere;
        archive.ExtractAt(static_cast<int32_t>(i), nowhere);
        if (!passwords.Refusal().empty()) verdict = passwords.Refusal();
      } catch (const std::exception& e) {
        verdict = FailureText(e);
      }
      if (verdict != "ok") status = 1;
      std::printf("%s\t%s\n", name.c_str(), verdict.c_str());
    }
  } catch (const std::exception& e) {
    std::fflush(stdout);
    Fail(FailureText(e));
    return 1;
  }
  if (std::fflush(stdout) != 0) return 1;
  return status;
}

}  // namespace lumen::tools
