// An archive file opened the way the updater opens its download: the whole file is read into a
// TMemoryStream and the archiver reads it in place from there.
//
// Contract: the object owns the memory stream and the archiver, and closes the archive before the
// stream goes away. The constructor raises EFOpenError / EReadError when the file cannot be read
// and the archiver's own EZAException when the bytes are not an archive it can open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "platform/stream.h"

namespace lumen::tools {

// One entry as the loaded central directory describes it.
struct TEntryInfo {
  std::u16string name;
  uint16_t method = 0;  // as stored: 99 for WinZip AES, whatever the method under it
  uint64_t size = 0;
  uint64_t compressedSize = 0;
  uint32_t crc32 = 0;
  bool encrypted = false;
};

// The archiver with one more way in: extraction by directory index, with the frame of an
// extraction by name (guards, progress, one file to process) but without the lookup.
class TInspectingArchiver : public TZipArchiver {
 public:
  void ExtractAt(int32_t index, TStream& output);
};

class TArchiveInMemory {
 public:
  explicit TArchiveInMemory(const std::string& path);
  ~TArchiveInMemory();
  TArchiveInMemory(const TArchiveInMemory&) = delete;
  TArchiveInMemory& operator=(const TArchiveInMemory&) = delete;

  TZipArchiver& Archiver() noexcept { return archiver_; }
  // Entries in central-directory order.
  std::vector<TEntryInfo> Entries() const;
  // Extracts the entry found as the updater finds its entry (exact name regardless of case,
  // then the mask search) into output, at output's position.
  void Extract(const std::u16string& name, TStream& output);
  // The entry at a directory index; unlike a lookup by name it also reaches an entry that a
  // later entry of the same name hides.
  void ExtractAt(int32_t index, TStream& output);

 private:
  // Declared before the archiver so that the archiver, which reads it, is destroyed first.
  TMemoryStream stream_;
  TInspectingArchiver archiver_;
};

// The text of a failure for a terminal: the archiver's messages are ANSI (entry names included),
// the platform's are already plain bytes (file names as the system gave them).
std::string FailureText(const std::exception& failure);

}  // namespace lumen::tools
