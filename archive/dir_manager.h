// The directory of one open archive: finds the end record, reads the central directory (or
// rebuilds it from local headers when it is missing or unreadable) into a TZADirArray, and
// measures any data before the archive. It reads the archive's stream, never writes it, and
// never owns it.
//
// LoadDirectory raises EZAException without an archiver (35 no ZIP data at all, 40 a Zip64
// locator without its end record, 57 sizes beyond the stream when repair is off, 59 two entries
// that cannot both be indexed, 44 a rebuild in multi-volume mode), or the stream's EReadError
// where the format leaves no other reading.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/dir_array.h"
#include "archive/zip_records.h"

namespace lumen {

class TStream;
class TZABaseArchiver;
class TSignatureScanner;

class TZADirManager {
 public:
  // Reads nothing yet; archiver supplies the settings loading consults (OEM names, repair,
  // spanning mode). Both must outlive the manager.
  TZADirManager(TStream& zipStream, TZABaseArchiver& archiver, bool createNew);
  TZADirManager(const TZADirManager&) = delete;
  TZADirManager& operator=(const TZADirManager&) = delete;
  ~TZADirManager();

  // Empties the directory and puts back a blank end record (signature only).
  void ResetEndRecord();
  void LoadDirectory();

  TStream& ZipStream() const noexcept { return zipStream_; }
  TZABaseArchiver& Archiver() const noexcept { return archiver_; }
  bool CreateNew() const noexcept { return createNew_; }
  bool ForeignStream() const noexcept { return foreignStream_; }
  bool Aborted() const noexcept { return aborted_; }
  TZADirArray& Directory() noexcept { return directory_; }
  const TZADirArray& Directory() const noexcept { return directory_; }
  TZADirArray& BackupDirectory() noexcept { return backupDirectory_; }
  const std::string& ArchiveComment() const noexcept { return archiveComment_; }
  const lumen::EndRecord& EndRecord() const noexcept { return endRecord_; }
  const lumen::Zip64Locator& Zip64Locator() const noexcept { return zip64Locator_; }
  const lumen::Zip64EndRecord& Zip64EndRecord() const noexcept { return zip64EndRecord_; }
  // Bytes before the archive's first local header.
  int64_t StubSize() const noexcept { return stubSize_; }
  bool IsZip64() const noexcept { return isZip64_; }
  // Where the central directory begins; entry data may not reach past it. The stream size after
  // a rebuild.
  int64_t DirectoryOffset() const noexcept { return directoryOffset_; }

  // The steps of loading, public so that each can be exercised on its own.

  // The end record nearest the end of the stream that passes the plausibility tests, searched for
  // in one read of the last 65,600 bytes. True with its position; fills EndRecord() and
  // ArchiveComment(). False leaves an all-zero EndRecord().
  bool FindEndRecord(int64_t& position);
  // Measures StubSize from the first entry's local header; p is where the archive's end records
  // begin.
  void DetectStubSize(int64_t p);
  bool MatchesFirstEntry(int64_t h);
  bool OffsetsIncludeStub() const;
  void ApplyStubSize();
  // The directory rebuilt by walking the local headers from the start of the stream.
  void RebuildFromLocalHeaders();
  // Next local header signature at or after from with a whole header's room after it, or -1.
  int64_t FindLocalHeaderSignature(int64_t from);
  // Next signed data descriptor at or after from, or -1.
  int64_t FindDataDescriptor(int64_t from);

 private:
  bool CheckEndRecord(const uint8_t* record, int64_t available, int64_t c, int64_t size) const;
  void ReadCentralDirectory(int64_t start, uint64_t count);
  void ReadEntry(int32_t index);
  void ReadExtraArea(int32_t index, uint16_t length);
  void InterpretExtraBlock(int32_t index, const ExtraBlock& block);
  void AppendRebuiltEntry(int64_t h, const LocalHeader& header);

  TStream& zipStream_;
  bool createNew_;
  bool foreignStream_;
  TZABaseArchiver& archiver_;
  TZADirArray backupDirectory_;
  TZADirArray directory_;
  std::string archiveComment_;
  lumen::Zip64Locator zip64Locator_;
  lumen::Zip64EndRecord zip64EndRecord_;
  lumen::EndRecord endRecord_;
  int64_t stubSize_ = 0;
  bool isZip64_ = false;
  bool aborted_ = false;
  int64_t directoryOffset_ = 0;

  // Searches of one pass keep their chunk between calls; reset when a pass begins.
  std::unique_ptr<TSignatureScanner> localScanner_;
  std::unique_ptr<TSignatureScanner> descriptorScanner_;
  int64_t descriptorFrom_ = -1;  // last descriptor search: where it started and what it found
  int64_t descriptorHit_ = -1;
};

}  // namespace lumen
