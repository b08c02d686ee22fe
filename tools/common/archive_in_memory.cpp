// Opening an archive file from memory as the updater does, listing its directory, extracting.
#include "tools/common/archive_in_memory.h"

#include "archive/dir_manager.h"
#include "archive/za_exception.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace lumen::tools {

TArchiveInMemory::TArchiveInMemory(const std::string& path) {
  stream_.LoadFromFile(path);
  // The updater hands over the download stream where the download left it, at its end; the
  // archiver positions it itself, so the tool does the same rather than rewinding.
  stream_.Seek(0, TSeekOrigin::soEnd);
  archiver_.OpenFromStream(stream_, false);
}

TArchiveInMemory::~TArchiveInMemory() {
  archiver_.CloseCurrent();
}

std::vector<TEntryInfo> TArchiveInMemory::Entries() const {
  std::vector<TEntryInfo> entries;
  const TZADirArray& directory = archiver_.DirManager()->Directory();
  entries.reserve(static_cast<size_t>(directory.Count()));
  for (int32_t i = 0; i < directory.Count(); ++i) {
    const TDirItem& item = directory.GetItem(i);
    TEntryInfo info;
    info.name = item.Name;
    info.method = item.Method;
    info.size = item.UncompressedSizeValue();
    info.compressedSize = item.CompressedSizeValue();
    info.crc32 = item.Crc32;
    info.encrypted = item.IsEncrypted();
    entries.push_back(std::move(info));
  }
  return entries;
}

void TArchiveInMemory::Extract(const std::u16string& name, TStream& output) {
  archiver_.ExtractEntryTo(name, output);
}

void TArchiveInMemory::ExtractAt(int32_t index, TStream& output) {
  archiver_.ExtractAt(index, output);
}

void TInspectingArchiver::ExtractAt(int32_t index, TStream& output) {
  if (!IsOpen()) throw EZAException(13, this);
  if (UpdateDepth() > 0) throw EZAException(26, this);
  filesDone_ = 0;
  filesToProcess_ = 1;
  progressEnabled_ = true;
  NotifyOverallProgress(poExtract, ppStart, 0, cancelled_);
  ExtractItem(index, output);
  NotifyOverallProgress(poExtract, ppEnd, 100, cancelled_);
}

std::string FailureText(const std::exception& failure) {
  if (const auto* za = dynamic_cast<const EZAException*>(&failure)) {
    return AnsiToUtf8(za->Message());
  }
  return failure.what();
}

}  // namespace lumen::tools
