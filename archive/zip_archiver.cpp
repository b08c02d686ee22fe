// The archiver component: construction, property setters, the hooks' defaults, and closing.
#include "archive/zip_archiver.h"

#include "archive/dir_manager.h"
#include "archive/za_exception.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/toolkit.h"

namespace lumen {

namespace {

constexpr char kConfirmCaption[] = "Confirm";

std::string AnsiOf(const std::u16string& wide) {
  return WideToAnsi(wide);
}

}  // namespace

void TZAOptions::Assign(const TZAOptions& source) {
  if (&source == this) return;
  storePath_ = source.storePath_;
  recurse_ = source.recurse_;
  overwriteMode_ = source.overwriteMode_;
  createDirs_ = source.createDirs_;
  replaceReadOnly_ = source.replaceReadOnly_;
  setAttributes_ = source.setAttributes_;
  searchAttr_ = source.searchAttr_;
  flushBuffers_ = source.flushBuffers_;
  oemFileNames_ = source.oemFileNames_;
}

void TZASpanningOptions::Assign(const TZASpanningOptions& source) {
  if (&source == this) return;
  advancedNaming_ = source.advancedNaming_;
  firstVolumeSize_ = source.firstVolumeSize_;
  volumeSize_ = source.volumeSize_;
  customVolumeSize_ = source.customVolumeSize_;
}

void TZASpanningOptions::SetCustomVolumeSize(int64_t value) noexcept {
  customVolumeSize_ = value < kMinCustomVolumeSize ? kMinCustomVolumeSize : value;
}

TZABaseArchiver::TZABaseArchiver(TComponent* owner) : TComponent(owner) {
  // Virtual calls here reach this class's UpdateCompressionMethod only; a subclass that
  // derives the method differently chooses it again in its own constructor.
  SetCompressionLevel(clFastest);
}

TZABaseArchiver::~TZABaseArchiver() {
  CloseCurrent();
}

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel level) {
  compressionLevel_ = level;
  switch (level) {
    case clNone:
      compressionMode_ = 0;
      break;
    case clFastest:
      compressionMode_ = 1;
      break;
    case clNormal:
      compressionMode_ = 6;
      break;
    case clMax:
      compressionMode_ = 9;
      break;
  }
  UpdateCompressionMethod();
}

void TZABaseArchiver::SetCompressionMode(int mode) {
  if (mode < 0 || mode > 9) throw EZAException(5, this);
  compressionMode_ = static_cast<uint8_t>(mode);
  if (mode == 0) {
    compressionLevel_ = clNone;
  } else if (mode <= 3) {
    compressionLevel_ = clFastest;
  } else if (mode <= 6) {
    compressionLevel_ = clNormal;
  } else {
    compressionLevel_ = clMax;
  }
  UpdateCompressionMethod();
}

std::u16string TZABaseArchiver::CurrentVersion() const {
  // Built by hand rather than through a locale-aware formatter: the separator is always a
  // full stop, whatever the user's number format.
  return u"1.00 ";
}

void TZABaseArchiver::SetCurrentVersion(const std::u16string& value) noexcept {
  (void)value;
}

void TZABaseArchiver::SetPassword(const std::string& value) {
  password_ = value;
}

void TZABaseArchiver::SetSpanningMode(TZASpanningMode mode) {
  // The volumes of an open archive are already laid out; changing the mode would misread them.
  if (isOpen_) throw Exception("Cannot set spanning mode on open archive");
  spanningMode_ = mode;
}

void TZABaseArchiver::SetInMemory(bool value) {
  if (value == inMemory_) return;
  if (!isOpen_) {
    inMemory_ = value;
    return;
  }
  if (!value) {
    // The archive moves from memory to the file FileName names, and is read from there on.
    bool blank = true;
    for (char16_t c : fileName_) blank = blank && (c == u' ' || c == u'\t');
    if (blank) throw EZAException(29, this);
    const std::string path = WideToUtf8(fileName_);
    {
      TFileStream file(path, TFileMode::fmCreate);
      archiveStream_->SetPosition(0);
      file.CopyFrom(*archiveStream_, 0);
      file.Flush();
    }
    CloseCurrent();
    inMemory_ = false;
    auto file = std::make_unique<TFileStream>(path, TFileMode::fmOpenRead);
    TStream& stream = *file;
    OpenStream(stream, std::move(file));
    return;
  }
  // A new, empty archive in memory: an end record and nothing else.
  CloseCurrent();
  inMemory_ = true;
  auto memory = std::make_unique<TMemoryStream>();
  const uint8_t emptyArchive[22] = {0x50, 0x4B, 0x05, 0x06};
  memory->WriteBuffer(emptyArchive, sizeof emptyArchive);
  TStream& stream = *memory;
  OpenStream(stream, std::move(memory));
}

void TZABaseArchiver::OpenFromStream(TStream& stream, bool createNew) {
  if (spanningMode_ != smNone) throw EZAException(51, this);
  if (createNew) throw Exception("Creating archives is not supported");
  OpenStream(stream, nullptr);
}

void TZABaseArchiver::OpenStream(TStream& stream, std::unique_ptr<TStream> owned) {
  CloseCurrent();
  streamOwnedByCaller_ = owned == nullptr;
  ownedStream_ = std::move(owned);
  // Stored before anything is read, so that a failed load leaves them for CloseCurrent to release.
  dirManager_ = std::make_unique<TZADirManager>(stream, *this, false);
  archiveStream_ = &stream;
  dirManager_->LoadDirectory();
  isOpen_ = true;
  if (AfterOpen) AfterOpen(*this);
}

void TZABaseArchiver::UpdateCompressionMethod() {
  compressionMethod_ = 0xFFFF;
}

// A writer would put the directory back at the end of an emptied stream here; this reader never
// empties a stream, so an archive that was only read is left byte for byte as it was.
void TZABaseArchiver::CloseCurrent() noexcept {
  isOpen_ = false;
  if (!streamOwnedByCaller_) ownedStream_.reset();
  archiveStream_ = nullptr;
  dirManager_.reset();
}

void TZABaseArchiver::NotifyOverallProgress(TZAProcessOperation operation, TZAProgressPhase phase,
                                            double progress, bool& cancel) {
  cancel = false;
  if (OnOverallProgress) OnOverallProgress(*this, progress, operation, phase, cancel);
}

void TZABaseArchiver::NotifyFileProgress(const std::u16string& fileName,
                                         TZAProcessOperation operation, double progress,
                                         TZAProgressPhase phase, bool& cancel) {
  cancel = false;
  if (!OnFileProgress) return;
  // Handlers show names as the user's file system writes them.
  std::u16string shown = fileName;
  for (char16_t& c : shown) {
    if (c == u'/') c = u'\\';
  }
  OnFileProgress(*this, shown, progress, operation, phase, cancel);
}

void TZABaseArchiver::NotifyCopyTempFileProgress(double progress, TZAProgressPhase phase,
                                                 bool& cancel) {
  cancel = false;
  if (OnCopyTempFileProgress) OnCopyTempFileProgress(*this, progress, phase, cancel);
}

void TZABaseArchiver::ConfirmOverwrite(const std::u16string& sourceFileName,
                                       std::u16string& destFileName, bool& confirm) {
  if (OnConfirmOverwrite) {
    OnConfirmOverwrite(*this, sourceFileName, destFileName, confirm);
    return;
  }
  IToolkit* toolkit = CurrentToolkit();
  const int answer =
      toolkit == nullptr
          ? kIdCancel
          : toolkit->QuestionBox(FormatMessageText("Overwrite file \"%s\" with \"%s\"",
                                                   {AnsiOf(destFileName), AnsiOf(sourceFileName)}),
                                 kConfirmCaption, {kIdYes, kIdNo, kIdYesToAll, kIdNoToAll});
  confirm = answer == kIdYes || answer == kIdYesToAll;
  if (answer == kIdYesToAll) options_.SetOverwriteMode(omAlways);
  if (answer == kIdNoToAll) options_.SetOverwriteMode(omNever);
}

void TZABaseArchiver::ConfirmProcessFile(const std::u16string& fileName,
                                         TZAProcessOperation operation, bool& confirm) {
  confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(*this, fileName, operation, confirm);
}

void TZABaseArchiver::RequestPassword(const std::u16string& fileName, std::string& newPassword,
                                      bool& skipFile) {
  if (OnPassword) {
    OnPassword(*this, fileName, newPassword, skipFile);
    return;
  }
  // Without a toolkit nobody can be asked, which is the same as the user declining.
  IToolkit* toolkit = CurrentToolkit();
  std::string typed;
  if (toolkit != nullptr &&
      toolkit->PasswordPrompt(FormatMessageText("Password for \"%s\"", {AnsiOf(fileName)}),
                              "Enter password: ", typed)) {
    newPassword = typed;
    skipFile = false;
  } else {
    skipFile = true;
  }
}

void TZABaseArchiver::NotifyFileFailure(const std::u16string& fileName,
                                        TZAProcessOperation operation, int32_t nativeError,
                                        int32_t errorCode, const std::u16string& errorMessage,
                                        TZAAction& action) {
  action = fxaIgnore;
  if (OnProcessFileFailure) {
    OnProcessFileFailure(*this, fileName, operation, nativeError, errorCode, errorMessage, action);
    return;
  }
  // An aborted open cannot be retried file by file.
  if (nativeError == 45) {
    action = fxaAbort;
    return;
  }
  IToolkit* toolkit = CurrentToolkit();
  int answer = kIdCancel;
  if (toolkit != nullptr) {
    if (nativeError == 61) {
      // Retrying cannot shorten a name.
      answer = toolkit->QuestionBox(AnsiOf(errorMessage), kConfirmCaption, {kIdAbort, kIdIgnore});
    } else {
      answer =
          toolkit->QuestionBox(FormatMessageText("%s. File processing error, possibly disk is full",
                                                 {AnsiOf(errorMessage)}),
                               kConfirmCaption, {kIdAbort, kIdRetry, kIdIgnore});
    }
  }
  if (answer == kIdRetry) {
    action = fxaRetry;
  } else if (answer == kIdIgnore) {
    action = fxaIgnore;
  } else {
    action = fxaAbort;
  }
}

// This port has no removable media to change, so without a handler a volume request cannot be
// met and is cancelled.
void TZABaseArchiver::RequestBlankVolume(int32_t volumeNumber, std::u16string& volumeFileName,
                                         bool& cancel) {
  cancel = true;
  if (OnRequestBlankVolume) {
    cancel = false;
    OnRequestBlankVolume(*this, volumeNumber, volumeFileName, cancel);
  }
}

void TZABaseArchiver::RequestFirstVolume(std::u16string& volumeFileName, bool& cancel) {
  cancel = true;
  if (OnRequestFirstVolume) {
    cancel = false;
    OnRequestFirstVolume(*this, volumeFileName, cancel);
  }
}

void TZABaseArchiver::RequestLastVolume(std::u16string& volumeFileName, bool& cancel) {
  cancel = true;
  if (OnRequestLastVolume) {
    cancel = false;
    OnRequestLastVolume(*this, volumeFileName, cancel);
  }
}

void TZABaseArchiver::RequestMiddleVolume(int32_t volumeNumber, std::u16string& volumeFileName,
                                          bool& cancel) {
  cancel = true;
  if (OnRequestMiddleVolume) {
    cancel = false;
    OnRequestMiddleVolume(*this, volumeNumber, volumeFileName, cancel);
  }
}

void TZABaseArchiver::NotifyDiskFull(int32_t volumeNumber, const std::u16string& volumeFileName,
                                     bool& cancel) {
  cancel = false;
  if (OnDiskFull) {
    OnDiskFull(*this, volumeNumber + 1, volumeFileName, cancel);
    return;
  }
  if (spanningMode_ != smSpanning) throw EZAException(65);
  // Spanning onto a fresh disk needs one to be offered.
  std::u16string nextVolume = volumeFileName;
  RequestBlankVolume(volumeNumber + 1, nextVolume, cancel);
}

void TZABaseArchiver::NotifyStoreFile(std::u16string& fileName, int32_t& fileAttr,
                                      std::string& comment,
                                      const std::u16string& originalFileName) {
  if (OnStoreFile) OnStoreFile(*this, fileName, fileAttr, comment, originalFileName);
}

void TZABaseArchiver::NotifyExtractFile(std::u16string& fileName, uint32_t& fileAttr,
                                        const std::string& comment) {
  if (OnExtractFile) OnExtractFile(*this, fileName, fileAttr, comment);
}

TZipArchiver::TZipArchiver(TComponent* owner) : TZABaseArchiver(owner) {
  // The base constructor could only reach its own UpdateCompressionMethod.
  UpdateCompressionMethod();
  SetZip64Mode(zmDisabled);
}

void TZipArchiver::UpdateCompressionMethod() {
  SetCompressionMethod(CompressionMode() == 0 ? 0 : 8);
}

}  // namespace lumen
