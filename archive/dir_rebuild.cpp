// Rebuilding the directory from the local headers, for archives whose central directory is
// missing, cut short or inconsistent (truncated downloads above all). The stream is walked front
// to back once; each signature that carries a plausible header becomes an entry.
#include <limits>

#include "archive/dir_manager.h"
#include "archive/entry_names.h"
#include "archive/signature_scan.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "archive/zip_format.h"
#include "platform/stream.h"

namespace lumen {

namespace {

constexpr int32_t kInvalidArchive = 35;
constexpr int32_t kCannotOpenArchive = 44;

constexpr int64_t kRebuildSearchChunk = 65535;
// Local extra areas longer than this are taken for a signature inside data, not a header.
constexpr uint16_t kMaxRebuiltExtraLength = 260;

}  // namespace

void TZADirManager::RebuildFromLocalHeaders() {
  directory_.Clear();
  if (archiver_.SpanningMode() != smNone) throw EZAException(kCannotOpenArchive);
  localScanner_.reset();
  descriptorScanner_.reset();
  descriptorFrom_ = descriptorHit_ = -1;

  int64_t h = FindLocalHeaderSignature(0);
  if (h < 0) throw EZAException(kInvalidArchive);
  const int64_t size = zipStream_.Size();
  while (h >= 0) {
    uint8_t raw[kLocalHeaderSize];
    zipStream_.Seek(h, TSeekOrigin::soBeginning);
    zipStream_.ReadBuffer(raw, sizeof raw);
    LocalHeader local;
    DecodeLocalHeader(raw, sizeof raw, local);
    if (int64_t{local.CompressedSize} < size && local.ExtraLength <= kMaxRebuiltExtraLength) {
      AppendRebuiltEntry(h, local);
    }
    // Headers are not skipped by their data length: that length is what may be damaged.
    h = FindLocalHeaderSignature(h + 4);
  }
  directoryOffset_ = size;
}

void TZADirManager::AppendRebuiltEntry(int64_t h, const LocalHeader& local) {
  const int32_t index = directory_.Count();
  if (index == std::numeric_limits<int32_t>::max()) throw EZAException(kInvalidArchive);
  directory_.SetCount(index + 1);
  TDirItem& item = directory_.ItemAt(index);
  item.Signature = local.Signature;
  item.VersionMadeBy = local.VersionNeeded;
  item.VersionNeeded = local.VersionNeeded;
  item.Flags = local.Flags;
  item.Method = local.Method;
  item.ActualMethod = local.Method;
  item.ModTime = local.ModTime;
  item.ModDate = local.ModDate;
  item.Crc32 = local.Crc32;
  item.CompressedSize = local.CompressedSize;
  item.UncompressedSize = local.UncompressedSize;
  item.NameLength = local.NameLength;
  item.ExtraLength = local.ExtraLength;
  // Without a central header there is no attribute; an entry that holds nothing (and does not
  // defer its sizes to a descriptor) is taken for a folder.
  const bool hasData = local.UncompressedSize != 0 || (local.Flags & kFlagDataDescriptor) != 0;
  item.ExternalAttributes = hasData ? kAttrArchive : kAttrDirectory;
  if (h < int64_t{kZip64Marker32}) {
    item.LocalHeaderOffset = static_cast<uint32_t>(h);
  } else {
    item.LocalHeaderOffset = kZip64Marker32;
    item.LocalHeaderOffset64 = static_cast<uint64_t>(h);
  }
  if ((item.Flags & kFlagEncrypted) != 0 && item.VersionNeeded < kVersionStrongEncryption) {
    item.CryptoAlgorithm = caPkzipClassic;
  }

  const int64_t size = zipStream_.Size();
  const int64_t nameAt = h + kLocalHeaderSize;
  std::u16string name;
  if (local.NameLength > 0 && size - nameAt < local.NameLength) {
    // A header cut by the end of the stream: no name, and the extra area (if any) cannot be read.
    zipStream_.Seek(nameAt + local.NameLength, TSeekOrigin::soBeginning);
  } else if (local.NameLength > 0) {
    std::string stored(local.NameLength, '\0');
    zipStream_.ReadBuffer(stored.data(), local.NameLength);
    // OEM names are assumed only when an end record was seen; a stream without one gives no
    // reason to think it came from a DOS-era writer.
    const bool oem =
        archiver_.Options().OEMFileNames() && endRecord_.Signature == kEndRecordSignature;
    name = DecodeLocalName(stored, item.Flags, oem);
  }
  directory_.SetItemName(index, name);

  if (item.ExtraLength > 0) ReadExtraArea(index, item.ExtraLength);

  if ((item.Flags & kFlagDataDescriptor) != 0) {
    const int64_t d = FindDataDescriptor(h);
    if (d >= 0 && size - d >= kDataDescriptorSize) {
      uint8_t raw[kDataDescriptorSize];
      zipStream_.Seek(d, TSeekOrigin::soBeginning);
      zipStream_.ReadBuffer(raw, sizeof raw);
      DataDescriptor descriptor;
      DecodeDataDescriptor(raw, sizeof raw, descriptor);
      TDirItem& same = directory_.ItemAt(index);
      same.Crc32 = descriptor.Crc32;
      same.CompressedSize = descriptor.CompressedSize;
      same.UncompressedSize = descriptor.UncompressedSize;
    }
  }
}

int64_t TZADirManager::FindLocalHeaderSignature(int64_t from) {
  if (!localScanner_) {
    localScanner_ =
        std::make_unique<TSignatureScanner>(zipStream_, kLocalHeaderSignature, kRebuildSearchChunk);
  }
  const int64_t h = localScanner_->Find(from);
  if (h < 0 || zipStream_.Size() - h < kLocalHeaderSize) return -1;
  return h;
}

int64_t TZADirManager::FindDataDescriptor(int64_t from) {
  // Searches start at successive headers; the answer for a later start is the earlier answer
  // whenever that lies at or after the new start (or was "none"), so the stream is scanned once
  // even when no descriptor follows many headers.
  if (descriptorFrom_ >= 0 && from >= descriptorFrom_ &&
      (descriptorHit_ < 0 || descriptorHit_ >= from)) {
    return descriptorHit_;
  }
  if (!descriptorScanner_) {
    descriptorScanner_ = std::make_unique<TSignatureScanner>(zipStream_, kDataDescriptorSignature,
                                                             kRebuildSearchChunk);
  }
  descriptorFrom_ = from;
  descriptorHit_ = descriptorScanner_->Find(from);
  return descriptorHit_;
}

}  // namespace lumen
