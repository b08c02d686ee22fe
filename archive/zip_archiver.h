// The archiver component: its published settings, events and hooks, and the open/closed state of
// the archive it reads. An archive opened from a caller's stream is read in place; the archiver
// never releases or rewrites that stream. Failures are EZAException (archive/za_exception.h), but
// for the platform's own stream and memory failures, which pass through unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/za_types.h"
#include "platform/component.h"
#include "platform/stream.h"

namespace lumen {

class TZABaseArchiver;
class TZADirManager;
struct TDirItem;
struct TZADecodeState;

// Settings of file-based operations; the read path consults StorePath and Recurse.
class TZAOptions {
 public:
  TZAOptions() = default;
  TZAOptions(const TZAOptions&) = delete;
  TZAOptions& operator=(const TZAOptions&) = delete;

  // Copies every setting except ShareMode, which belongs to the archive being worked on rather
  // than to the preferences being carried over.
  void Assign(const TZAOptions& source);

  TZAStorePathMode StorePath() const noexcept { return storePath_; }
  void SetStorePath(TZAStorePathMode value) noexcept { storePath_ = value; }
  bool Recurse() const noexcept { return recurse_; }
  void SetRecurse(bool value) noexcept { recurse_ = value; }
  TZAFileShareMode ShareMode() const noexcept { return shareMode_; }
  void SetShareMode(TZAFileShareMode value) noexcept { shareMode_ = value; }
  TZAOverwriteMode OverwriteMode() const noexcept { return overwriteMode_; }
  void SetOverwriteMode(TZAOverwriteMode value) noexcept { overwriteMode_ = value; }
  bool CreateDirs() const noexcept { return createDirs_; }
  void SetCreateDirs(bool value) noexcept { createDirs_ = value; }
  bool ReplaceReadOnly() const noexcept { return replaceReadOnly_; }
  void SetReplaceReadOnly(bool value) noexcept { replaceReadOnly_ = value; }
  bool SetAttributes() const noexcept { return setAttributes_; }
  void SetSetAttributes(bool value) noexcept { setAttributes_ = value; }
  uint32_t SearchAttr() const noexcept { return searchAttr_; }
  void SetSearchAttr(uint32_t value) noexcept { searchAttr_ = value; }
  bool FlushBuffers() const noexcept { return flushBuffers_; }
  void SetFlushBuffers(bool value) noexcept { flushBuffers_ = value; }
  // Entry names without a Unicode marking are taken as OEM text when loading the directory.
  bool OEMFileNames() const noexcept { return oemFileNames_; }
  void SetOEMFileNames(bool value) noexcept { oemFileNames_ = value; }

 private:
  TZAStorePathMode storePath_ = spRelativePath;
  bool recurse_ = true;
  TZAFileShareMode shareMode_ = smShareDenyNone;
  TZAOverwriteMode overwriteMode_ = omAlways;
  bool createDirs_ = true;
  bool replaceReadOnly_ = true;
  bool setAttributes_ = true;
  uint32_t searchAttr_ = 0x28BF;
  bool flushBuffers_ = true;
  bool oemFileNames_ = true;
};

// Settings of multi-volume writing, kept so that a form can carry them.
class TZASpanningOptions {
 public:
  // The smallest volume the writer can fill: a smaller custom size is raised to it.
  static constexpr int64_t kMinCustomVolumeSize = 65536;

  TZASpanningOptions() = default;
  TZASpanningOptions(const TZASpanningOptions&) = delete;
  TZASpanningOptions& operator=(const TZASpanningOptions&) = delete;

  void Assign(const TZASpanningOptions& source);

  bool AdvancedNaming() const noexcept { return advancedNaming_; }
  void SetAdvancedNaming(bool value) noexcept { advancedNaming_ = value; }
  int64_t FirstVolumeSize() const noexcept { return firstVolumeSize_; }
  void SetFirstVolumeSize(int64_t value) noexcept { firstVolumeSize_ = value; }
  TZAVolumeSize VolumeSize() const noexcept { return volumeSize_; }
  void SetVolumeSize(TZAVolumeSize value) noexcept { volumeSize_ = value; }
  int64_t CustomVolumeSize() const noexcept { return customVolumeSize_; }
  void SetCustomVolumeSize(int64_t value) noexcept;

 private:
  bool advancedNaming_ = false;
  int64_t firstVolumeSize_ = 0;
  TZAVolumeSize volumeSize_ = vsAutoDetect;
  int64_t customVolumeSize_ = 0;
};

enum TZAVolumeKind : uint8_t { vkFirst, vkLast, vkNumbered, vkNotSet };

// The volume at hand. An archive held in one stream is a single volume, so on the read path
// this only ever says so.
struct TZAVolumeNumberInfo {
  TZAVolumeKind VolumeKind = vkNotSet;
  int32_t VolumeNumber = -1;
  int32_t LastVolumeNumber = -1;
};

// State of a search through the directory by name or mask.
struct TInternalSearchRec {
  int32_t ItemIndex = 0;  // where the search starts; after a match, the index found
  // The name or mask with "/" separators. Kept as a growable string: a longer name than a fixed
  // field would hold must not overrun it, and is matched like any other.
  std::u16string Mask;
  bool HasWildcards = false;
  uint32_t SearchAttributes = 0;
  std::u16string ExclusionMask;
  bool UseMaskLists = false;  // match FileMasks/ExclusionMasks instead of Mask
};

// Public description of one entry, filled in when a search finds it.
struct TZAArchiveItem {
  std::u16string FileName;    // the name's last part
  std::u16string StoredPath;  // the folder part, with its trailing separator
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  double CompressionRate = 0;  // percent saved
  bool Encrypted = false;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t CRC = 0;
  uint32_t ExternalFileAttributes = 0;
  std::string Comment;
  TInternalSearchRec Handle;
};

// Event types. Sender is always the archiver; reference parameters may be changed by the handler.
using TZANotifyEvent = std::function<void(TZABaseArchiver& sender)>;
using TZAFileProgressEvent =
    std::function<void(TZABaseArchiver& sender, const std::u16string& fileName, double progress,
                       TZAProcessOperation operation, TZAProgressPhase phase, bool& cancel)>;
using TZAOverallProgressEvent =
    std::function<void(TZABaseArchiver& sender, double progress, TZAProcessOperation operation,
                       TZAProgressPhase phase, bool& cancel)>;
using TZACopyTempFileProgressEvent = std::function<void(TZABaseArchiver& sender, double progress,
                                                        TZAProgressPhase phase, bool& cancel)>;
using TZAConfirmOverwriteEvent =
    std::function<void(TZABaseArchiver& sender, const std::u16string& sourceFileName,
                       std::u16string& destFileName, bool& confirm)>;
using TZAConfirmProcessFileEvent =
    std::function<void(TZABaseArchiver& sender, const std::u16string& fileName,
                       TZAProcessOperation operation, bool& confirm)>;
using TZAPasswordEvent = std::function<void(TZABaseArchiver& sender, const std::u16string& fileName,
                                            std::string& newPassword, bool& skipFile)>;
using TZAProcessFileFailureEvent = std::function<void(
    TZABaseArchiver& sender, const std::u16string& fileName, TZAProcessOperation operation,
    int32_t nativeError, int32_t errorCode, const std::u16string& errorMessage, TZAAction& action)>;
using TZARequestVolumeEvent = std::function<void(TZABaseArchiver& sender, int32_t volumeNumber,
                                                 std::u16string& volumeFileName, bool& cancel)>;
using TZARequestEndVolumeEvent =
    std::function<void(TZABaseArchiver& sender, std::u16string& volumeFileName, bool& cancel)>;
using TZADiskFullEvent = std::function<void(TZABaseArchiver& sender, int32_t volumeNumber,
                                            const std::u16string& volumeFileName, bool& cancel)>;
using TZAStoreFileEvent =
    std::function<void(TZABaseArchiver& sender, std::u16string& fileName, int32_t& fileAttr,
                       std::string& comment, const std::u16string& originalFileName)>;
using TZAExtractFileEvent = std::function<void(TZABaseArchiver& sender, std::u16string& fileName,
                                               uint32_t& fileAttr, const std::string& comment)>;

class TZABaseArchiver : public TComponent {
 public:
  explicit TZABaseArchiver(TComponent* owner = nullptr);
  // Closes an open archive first; the caller's stream is left as it is.
  ~TZABaseArchiver() override;

  // Published properties.
  bool ExtractCorruptedFiles() const noexcept { return extractCorruptedFiles_; }
  void SetExtractCorruptedFiles(bool value) noexcept { extractCorruptedFiles_ = value; }
  TZACompressionLevel CompressionLevel() const noexcept { return compressionLevel_; }
  void SetCompressionLevel(TZACompressionLevel level);
  uint8_t CompressionMode() const noexcept { return compressionMode_; }
  // Raises native code 5 for a mode outside 0 to 9 and keeps the old one.
  void SetCompressionMode(int mode);
  // Always "1.00 "; assignments are accepted and ignored, so that forms may carry the value.
  std::u16string CurrentVersion() const;
  void SetCurrentVersion(const std::u16string& value) noexcept;
  const std::string& Password() const noexcept { return password_; }
  virtual void SetPassword(const std::string& value);
  const std::u16string& FileName() const noexcept { return fileName_; }
  void SetFileName(const std::u16string& value) { fileName_ = value; }
  const std::u16string& BaseDir() const noexcept { return baseDir_; }
  void SetBaseDir(const std::u16string& value) { baseDir_ = value; }
  const std::u16string& TempDir() const noexcept { return tempDir_; }
  void SetTempDir(const std::u16string& value) { tempDir_ = value; }
  TZASpanningMode SpanningMode() const noexcept { return spanningMode_; }
  // Refused with the platform's base exception while an archive is open.
  void SetSpanningMode(TZASpanningMode mode);
  TZASpanningOptions& SpanningOptions() noexcept { return spanningOptions_; }
  const TZASpanningOptions& SpanningOptions() const noexcept { return spanningOptions_; }
  void SetSpanningOptions(const TZASpanningOptions& value) { spanningOptions_.Assign(value); }
  const std::u16string& SFXStub() const noexcept { return sfxStub_; }
  void SetSFXStub(const std::u16string& value) { sfxStub_ = value; }
  TZAOptions& Options() noexcept { return options_; }
  const TZAOptions& Options() const noexcept { return options_; }
  void SetOptions(const TZAOptions& value) { options_.Assign(value); }
  const std::vector<std::u16string>& FileMasks() const noexcept { return fileMasks_; }
  void SetFileMasks(const std::vector<std::u16string>& value) { fileMasks_ = value; }
  const std::vector<std::u16string>& ExclusionMasks() const noexcept { return exclusionMasks_; }
  void SetExclusionMasks(const std::vector<std::u16string>& value) { exclusionMasks_ = value; }
  const std::vector<std::u16string>& NoCompressionMasks() const noexcept {
    return noCompressionMasks_;
  }
  void SetNoCompressionMasks(const std::vector<std::u16string>& value) {
    noCompressionMasks_ = value;
  }
  bool InMemory() const noexcept { return inMemory_; }
  // While an archive is open, reopens it under the new setting (see the source).
  void SetInMemory(bool value);

  // State that is not published.
  bool IsOpen() const noexcept { return isOpen_; }
  int32_t UpdateDepth() const noexcept { return updateDepth_; }
  bool StreamOwnedByCaller() const noexcept { return streamOwnedByCaller_; }
  // The stream of the open archive (or of the last attempted open); null when closed.
  TStream* ArchiveStream() const noexcept { return archiveStream_; }
  const TZAVolumeNumberInfo& VolumeInfo() const noexcept { return volumeInfo_; }
  // When set, an unreadable central directory is rebuilt from the local headers.
  bool RepairDirectory() const noexcept { return repairDirectory_; }
  void SetRepairDirectory(bool value) noexcept { repairDirectory_ = value; }
  // ZIP method number the writer would use; 0xFFFF until a subclass chooses one.
  uint16_t CompressionMethod() const noexcept { return compressionMethod_; }

  // Opens the archive held in the caller's stream, which must stay alive until the archive is
  // closed, reopened or the archiver destroyed; it is read in place and never released. Any open
  // archive is closed first. SpanningMode must be smNone (native code 51, nothing changes).
  // Failures of the directory pass reach the caller; the archive is then not open, and the next
  // CloseCurrent or OpenFromStream tidies up. This reader writes no archives: createNew is refused
  // with the platform's base exception before anything changes.
  void OpenFromStream(TStream& stream, bool createNew = false);

  // Closes the open archive. Throws nothing; never releases a stream the caller handed over.
  void CloseCurrent() noexcept;

  // Writes the content of the entry with this name (exact, ignoring letter case; else the first
  // match of the name as a mask outside any folder unless the mask names one) at the output's
  // position. Raises native code 13 when no archive is open, 15 when nothing matches, 55 for
  // Deflate64 data, 8 when the entry does not decode intact (unless ExtractCorruptedFiles), 65
  // when the output refuses bytes and no OnDiskFull handler is assigned. Decoding stops as soon as
  // an entry produces more bytes than it declares, so output never grows beyond that size. A
  // cancelled password request or a cancelled progress event ends the call without an error.
  void ExtractEntryTo(const std::u16string& name, TStream& output);

  // The directory of the open archive, or of the last attempted open; null when closed.
  TZADirManager* DirManager() const noexcept { return dirManager_.get(); }

  // Events; an unassigned one leaves its hook's default in force.
  TZAFileProgressEvent OnFileProgress;
  TZAOverallProgressEvent OnOverallProgress;
  TZACopyTempFileProgressEvent OnCopyTempFileProgress;
  TZAConfirmOverwriteEvent OnConfirmOverwrite;
  TZAConfirmProcessFileEvent OnConfirmProcessFile;
  TZANotifyEvent AfterOpen;
  TZAPasswordEvent OnPassword;
  TZAProcessFileFailureEvent OnProcessFileFailure;
  TZARequestVolumeEvent OnRequestBlankVolume;
  TZARequestEndVolumeEvent OnRequestFirstVolume;
  TZARequestEndVolumeEvent OnRequestLastVolume;
  TZARequestVolumeEvent OnRequestMiddleVolume;
  TZADiskFullEvent OnDiskFull;
  TZAStoreFileEvent OnStoreFile;
  TZAExtractFileEvent OnExtractFile;

 protected:
  // Chooses CompressionMethod for the current CompressionMode.
  virtual void UpdateCompressionMethod();

  // Hooks: each calls its event when one is assigned and otherwise applies its default.
  virtual void NotifyOverallProgress(TZAProcessOperation operation, TZAProgressPhase phase,
                                     double progress, bool& cancel);
  virtual void NotifyFileProgress(const std::u16string& fileName, TZAProcessOperation operation,
                                  double progress, TZAProgressPhase phase, bool& cancel);
  virtual void NotifyCopyTempFileProgress(double progress, TZAProgressPhase phase, bool& cancel);
  virtual void ConfirmOverwrite(const std::u16string& sourceFileName, std::u16string& destFileName,
                                bool& confirm);
  virtual void ConfirmProcessFile(const std::u16string& fileName, TZAProcessOperation operation,
                                  bool& confirm);
  virtual void RequestPassword(const std::u16string& fileName, std::string& newPassword,
                               bool& skipFile);
  virtual void NotifyFileFailure(const std::u16string& fileName, TZAProcessOperation operation,
                                 int32_t nativeError, int32_t errorCode,
                                 const std::u16string& errorMessage, TZAAction& action);
  virtual void RequestBlankVolume(int32_t volumeNumber, std::u16string& volumeFileName,
                                  bool& cancel);
  virtual void RequestFirstVolume(std::u16string& volumeFileName, bool& cancel);
  virtual void RequestLastVolume(std::u16string& volumeFileName, bool& cancel);
  virtual void RequestMiddleVolume(int32_t volumeNumber, std::u16string& volumeFileName,
                                   bool& cancel);
  virtual void NotifyDiskFull(int32_t volumeNumber, const std::u16string& volumeFileName,
                              bool& cancel);
  virtual void NotifyStoreFile(std::u16string& fileName, int32_t& fileAttr, std::string& comment,
                               const std::u16string& originalFileName);
  virtual void NotifyExtractFile(std::u16string& fileName, uint32_t& fileAttr,
                                 const std::string& comment);

  // The steps of ExtractEntryTo, in calling order (entry_search.cpp, entry_decode.cpp).
  bool FindEntry(const std::u16string& name, int32_t& index);
  bool FindFirstMatch(const std::u16string& name, TZAArchiveItem& item,
                      const std::u16string& exclusionMask, uint32_t attributes);
  bool SearchDirectory(TZAArchiveItem& item);
  void ExtractItem(int32_t index, TStream& output);
  bool DecodeEntry(TStream& archive, TStream& output, TDirItem& entry);
  bool DecodeData(TZADecodeState& state);
  void ReadChunk(TZADecodeState& state, int64_t count);
  bool ProcessChunk(TZADecodeState& state, int64_t count);
  bool TrailerMatches(TZADecodeState& state, const uint8_t* chunkStart, const uint8_t* target,
                      int64_t have);
  bool WriteOutput(TStream& output, const uint8_t* buffer, int64_t count);

  // Fields of the writing side that subclasses choose.
  TZip64Mode Zip64Mode() const noexcept { return zip64Mode_; }
  void SetZip64Mode(TZip64Mode value) noexcept { zip64Mode_ = value; }
  bool UnicodeFilenames() const noexcept { return unicodeFilenames_; }
  void SetUnicodeFilenames(bool value) noexcept { unicodeFilenames_ = value; }
  TZACryptoAlgorithm EncryptionMethod() const noexcept { return encryptionMethod_; }
  void SetEncryptionMethod(TZACryptoAlgorithm value) noexcept { encryptionMethod_ = value; }
  void SetCompressionMethod(uint16_t value) noexcept { compressionMethod_ = value; }

  // Extraction state of the running operation.
  bool cancelled_ = false;
  bool skipRequested_ = false;
  int32_t filesDone_ = 0;
  int32_t filesToProcess_ = 0;
  int64_t fileBytesDone_ = 0;
  int64_t fileBytesTotal_ = 0;
  bool progressEnabled_ = false;

 private:
  // Opens the stream with a fresh directory manager; owned streams are released on close.
  void OpenStream(TStream& stream, std::unique_ptr<TStream> owned);
  bool MatchesSearch(const TDirItem& entry, const TInternalSearchRec& search) const;
  bool ProgressPair(TZADecodeState& state);

  bool extractCorruptedFiles_ = false;
  TZACompressionLevel compressionLevel_ = clNone;
  uint8_t compressionMode_ = 0;
  std::string password_;
  std::u16string fileName_;
  std::u16string baseDir_;
  std::u16string tempDir_;
  TZASpanningMode spanningMode_ = smNone;
  TZASpanningOptions spanningOptions_;
  std::u16string sfxStub_;
  TZAOptions options_;
  std::vector<std::u16string> fileMasks_;
  std::vector<std::u16string> exclusionMasks_;
  std::vector<std::u16string> noCompressionMasks_;
  bool inMemory_ = false;
  TZip64Mode zip64Mode_ = zmAuto;
  bool unicodeFilenames_ = false;
  TZACryptoAlgorithm encryptionMethod_ = caPkzipClassic;

  int32_t updateDepth_ = 0;
  bool isOpen_ = false;
  bool streamOwnedByCaller_ = false;
  TZAVolumeNumberInfo volumeInfo_;
  bool repairDirectory_ = true;
  uint16_t compressionMethod_ = 0xFFFF;
  TStream* archiveStream_ = nullptr;
  // Holds archiveStream_ when the archiver made the stream itself (see SetInMemory).
  std::unique_ptr<TStream> ownedStream_;
  std::unique_ptr<TZADirManager> dirManager_;
};

// The ZIP archiver: stores with method 0 or deflates with method 8, and keeps Zip64 off
// unless asked.
class TZipArchiver : public TZABaseArchiver {
 public:
  explicit TZipArchiver(TComponent* owner = nullptr);

  using TZABaseArchiver::EncryptionMethod;
  using TZABaseArchiver::SetEncryptionMethod;
  using TZABaseArchiver::SetUnicodeFilenames;
  using TZABaseArchiver::SetZip64Mode;
  using TZABaseArchiver::UnicodeFilenames;
  using TZABaseArchiver::Zip64Mode;

 protected:
  void UpdateCompressionMethod() override;
};

}  // namespace lumen
