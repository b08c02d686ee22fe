// Loading the central directory. The reader trusts nothing it reads: the end record is accepted
// only after plausibility tests, the entry count only as far as entries can actually be read,
// and any failure inside the directory falls back to rebuilding it from the local headers.
#include "archive/dir_manager.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "archive/entry_names.h"
#include "archive/signature_scan.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "archive/zip_format.h"
#include "platform/exceptions.h"
#include "platform/stream.h"

namespace lumen {

namespace {

constexpr int32_t kCannotFindZip64End = 40;
constexpr int32_t kArchiveDamaged = 57;

// The stub search reads this much at a time; stubs are usually a few hundred kilobytes at most.
constexpr int64_t kStubSearchChunk = 10000;

}  // namespace

TZADirManager::TZADirManager(TStream& zipStream, TZABaseArchiver& archiver, bool createNew)
    : zipStream_(zipStream),
      createNew_(createNew),
      foreignStream_(&zipStream != archiver.ArchiveStream()),
      archiver_(archiver) {
  ResetEndRecord();
}

TZADirManager::~TZADirManager() = default;

void TZADirManager::ResetEndRecord() {
  // Clear rather than only dropping the items: a name index left behind would make the next load
  // see every name as already taken.
  directory_.Clear();
  endRecord_ = lumen::EndRecord{};
  endRecord_.Signature = kEndRecordSignature;
}

void TZADirManager::LoadDirectory() {
  ResetEndRecord();
  stubSize_ = 0;
  directoryOffset_ = 0;
  localScanner_.reset();
  descriptorScanner_.reset();
  descriptorFrom_ = descriptorHit_ = -1;

  int64_t p = 0;
  if (!FindEndRecord(p)) {
    RebuildFromLocalHeaders();
    return;
  }

  const int64_t size = zipStream_.Size();
  isZip64_ = false;
  if (p > kZip64LocatorSize) {
    uint8_t raw[kZip64LocatorSize];
    zipStream_.Seek(p - kZip64LocatorSize, TSeekOrigin::soBeginning);
    zipStream_.ReadBuffer(raw, sizeof raw);
    DecodeZip64Locator(raw, sizeof raw, zip64Locator_);
    if (zip64Locator_.Signature == kZip64LocatorSignature) {
      isZip64_ = true;
      p -= kZip64LocatorSize;
    }
  }
  if (isZip64_) {
    if (p <= kZip64EndRecordSize) throw EZAException(kCannotFindZip64End);
    // The locator's offset is taken as stored: a prefix that the offsets do not count makes it
    // miss the record, and that archive is refused rather than guessed at.
    const uint64_t at = zip64Locator_.Zip64EndOffset;
    if (at > static_cast<uint64_t>(size - kZip64EndRecordSize)) throw EReadError();
    uint8_t raw[kZip64EndRecordSize];
    zipStream_.Seek(static_cast<int64_t>(at), TSeekOrigin::soBeginning);
    zipStream_.ReadBuffer(raw, sizeof raw);
    DecodeZip64EndRecord(raw, sizeof raw, zip64EndRecord_);
    if (zip64EndRecord_.Signature != kZip64EndRecordSignature) {
      throw EZAException(kCannotFindZip64End);
    }
    // From here p is where the Zip64 end record would start if it sat right before the locator
    // with no extensible data, which is where the directory size is counted back from.
    p -= kZip64EndRecordSize;
  }

  if (!isZip64_ && endRecord_.TotalEntries == kZip64Marker16) {
    // 65,535 entries without Zip64 records usually means a writer that wrapped the count; the
    // local headers are the only trustworthy list.
    RebuildFromLocalHeaders();
    return;
  }

  int64_t thisDisk = endRecord_.DiskNumber;
  if (endRecord_.DiskNumber == kZip64Marker16) {
    thisDisk = isZip64_ ? int64_t{zip64Locator_.TotalDisks} - 1 : 0;
  }

  int64_t start = 0;
  uint64_t count = 0;
  if (isZip64_) {
    // Computed without overflow: a size beyond p gives a negative start, which the read rejects.
    start = zip64EndRecord_.DirectorySize > static_cast<uint64_t>(p)
                ? -1
                : p - static_cast<int64_t>(zip64EndRecord_.DirectorySize);
    count = zip64EndRecord_.TotalEntries & 0xFFFFFFFFu;
  } else {
    start = p - int64_t{endRecord_.DirectorySize};
    count = endRecord_.TotalEntries;
  }

  bool rebuild = false;
  try {
    ReadCentralDirectory(start, count);
  } catch (const std::exception&) {
    if (!archiver_.RepairDirectory()) throw;
    rebuild = true;
  }
  if (rebuild) {
    RebuildFromLocalHeaders();
    return;
  }

  if (!archiver_.RepairDirectory()) {
    uint64_t total = 0;
    for (int32_t i = 0; i < directory_.Count(); ++i)
      total += directory_.ItemAt(i).CompressedSizeValue();
    if (total > static_cast<uint64_t>(size)) throw EZAException(kArchiveDamaged);
  }

  if (thisDisk == 0) DetectStubSize(p);
  if (!OffsetsIncludeStub()) ApplyStubSize();
}

void TZADirManager::ReadCentralDirectory(int64_t start, uint64_t count) {
  if (start < 0) throw EReadError();
  zipStream_.Seek(start, TSeekOrigin::soBeginning);
  directory_.SetCount(0);
  // The count comes from the end record and may be anything; storage grows only as entries are
  // actually read, each of which takes at least 46 bytes of stream, so a false count costs no
  // more memory than the stream can justify.
  for (uint64_t i = 0; i < count; ++i) {
    if (i >= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) throw EReadError();
    if (i == 0) directoryOffset_ = zipStream_.Position();
    const auto index = static_cast<int32_t>(i);
    directory_.SetCount(index + 1);
    ReadEntry(index);
  }
}

void TZADirManager::ReadEntry(int32_t index) {
  uint8_t raw[kCentralHeaderSize];
  zipStream_.ReadBuffer(raw, sizeof raw);
  TDirItem& item = directory_.ItemAt(index);
  // The signature is not checked: a damaged one on an otherwise sound header costs nothing here,
  // and a directory that is not where the end record says fails on its lengths soon enough.
  DecodeCentralHeader(raw, sizeof raw, item);
  if ((item.Flags & kFlagEncrypted) != 0 && item.VersionNeeded < kVersionStrongEncryption) {
    item.CryptoAlgorithm = caPkzipClassic;
  }
  item.ActualMethod = item.Method;

  if (item.NameLength > 0) {
    std::string stored(item.NameLength, '\0');
    zipStream_.ReadBuffer(stored.data(), item.NameLength);
    directory_.SetItemName(
        index, DecodeCentralName(stored, item.Flags, archiver_.Options().OEMFileNames()));
  } else {
    directory_.SetItemName(index, std::u16string());
  }

  if (item.ExtraLength > 0) ReadExtraArea(index, item.ExtraLength);

  if (item.CommentLength > 0) {
    item.Comment.assign(item.CommentLength, '\0');
    zipStream_.ReadBuffer(item.Comment.data(), item.CommentLength);
  } else {
    item.Comment.clear();
  }
}

void TZADirManager::ReadExtraArea(int32_t index, uint16_t length) {
  TDirItem& item = directory_.ItemAt(index);
  item.HasZip64Info = false;
  uint32_t consumed = 0;
  while (consumed + kExtraBlockHeaderSize <= length) {
    uint8_t head[kExtraBlockHeaderSize];
    zipStream_.ReadBuffer(head, sizeof head);
    consumed += kExtraBlockHeaderSize;
    ExtraBlock block;
    block.Tag = static_cast<uint16_t>(head[0] | head[1] << 8);
    uint32_t size = static_cast<uint32_t>(head[2] | head[3] << 8);
    size = std::min(size, length - consumed);
    block.Size = static_cast<uint16_t>(size);
    block.Data.resize(size);
    if (size > 0) zipStream_.ReadBuffer(block.Data.data(), size);
    consumed += size;
    item.ExtraFields.push_back(std::move(block));
    InterpretExtraBlock(index, item.ExtraFields.back());
  }
  if (consumed < length) zipStream_.Seek(length - consumed, TSeekOrigin::soCurrent);
}

void TZADirManager::InterpretExtraBlock(int32_t index, const ExtraBlock& block) {
  TDirItem& item = directory_.ItemAt(index);
  switch (block.Tag) {
    case kZip64ExtraTag: {
      const Zip64ExtraInfo info = DecodeZip64Extra(block.Data.data(), block.Data.size(), item);
      if (info.UncompressedSize) item.UncompressedSize64 = *info.UncompressedSize;
      if (info.CompressedSize) item.CompressedSize64 = *info.CompressedSize;
      if (info.LocalHeaderOffset) item.LocalHeaderOffset64 = *info.LocalHeaderOffset;
      if (info.DiskNumberStart) item.DiskNumberStart32 = *info.DiskNumberStart;
      item.HasZip64Info = true;
      break;
    }
    case kUnicodeNameTag: {
      TUnicodeExtendedInfo unicode;
      if (unicode.LoadFromBytes(block.Data.data(), block.Data.size())) {
        directory_.SetItemName(index, unicode.Name);
      }
      break;
    }
    case kAesExtraTag: {
      AesExtraField aes;
      if (item.VersionNeeded >= kVersionStrongEncryption) break;
      if (!DecodeAesExtra(block.Data.data(), block.Data.size(), aes)) break;
      if (aes.Strength >= 1 && aes.Strength <= 3) {
        item.CryptoAlgorithm = static_cast<TZACryptoAlgorithm>(aes.Strength);
      }
      item.ActualMethod = aes.Method;
      break;
    }
    default:
      break;
  }
}

bool TZADirManager::CheckEndRecord(const uint8_t* record, int64_t available, int64_t c,
                                   int64_t size) const {
  if (size - c < kEndRecordSize || available < kEndRecordSize) return false;
  lumen::EndRecord r;
  DecodeEndRecord(record, static_cast<size_t>(kEndRecordSize), r);
  const int64_t e = c + kEndRecordSize;
  if (r.DirectoryDisk > r.DiskNumber) return false;
  if (r.EntriesOnDisk > r.TotalEntries) return false;
  if (r.DirectorySize != kZip64Marker32 && int64_t{r.DirectorySize} >= e) return false;
  if (r.DirectoryDisk == r.DiskNumber && r.DirectoryOffset != kZip64Marker32 &&
      int64_t{r.DirectoryOffset} >= e - int64_t{r.DirectorySize}) {
    return false;
  }
  if (int64_t{r.CommentLength} > size - e) return false;
  return true;
}

bool TZADirManager::FindEndRecord(int64_t& position) {
  archiveComment_.clear();
  endRecord_ = lumen::EndRecord{};
  const int64_t size = zipStream_.Size();
  const int64_t w = std::min(size, kEndRecordSearchSize);
  if (w < kEndRecordSize) return false;
  std::vector<uint8_t> tail(static_cast<size_t>(w));
  zipStream_.Seek(size - w, TSeekOrigin::soBeginning);
  zipStream_.ReadBuffer(tail.data(), w);

  // Backwards, so that of several plausible records (a stored archive inside this one, or a
  // comment quoting a record) the one nearest the end wins.
  for (int64_t i = w - 1; i >= 3; --i) {
    if (tail[i] != 0x06 || tail[i - 1] != 0x05 || tail[i - 2] != 0x4B || tail[i - 3] != 0x50)
      continue;
    const int64_t at = i - 3;
    const int64_t c = size - w + at;
    if (!CheckEndRecord(tail.data() + at, w - at, c, size)) continue;
    DecodeEndRecord(tail.data() + at, static_cast<size_t>(kEndRecordSize), endRecord_);
    position = c;
    if (endRecord_.CommentLength > 0) {
      // The plausibility test made sure the comment lies inside the stream, so inside the tail.
      const auto* comment = reinterpret_cast<const char*>(tail.data() + at + kEndRecordSize);
      archiveComment_.assign(comment, endRecord_.CommentLength);
    }
    return true;
  }
  return false;
}

void TZADirManager::DetectStubSize(int64_t p) {
  if (endRecord_.TotalEntries == 0 || directory_.Count() == 0) {
    // An empty archive is just its end records: everything before them is the stub.
    stubSize_ = p;
    return;
  }
  const uint64_t first = directory_.ItemAt(0).LocalHeaderOffsetValue();
  if (first > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return;
  TSignatureScanner scanner(zipStream_, kLocalHeaderSignature, kStubSearchChunk);
  // The first entry's local header is looked for from where the directory says it is onwards:
  // offsets that do not count a prefix point before it, never after.
  for (int64_t from = static_cast<int64_t>(first);;) {
    const int64_t h = scanner.Find(from);
    if (h < 0) return;
    if (MatchesFirstEntry(h)) {
      stubSize_ = h;
      return;
    }
    from = h + 1;
  }
}

bool TZADirManager::MatchesFirstEntry(int64_t h) {
  const int64_t saved = zipStream_.Position();
  struct Restore {
    TStream& s;
    int64_t at;
    ~Restore() { s.Seek(at, TSeekOrigin::soBeginning); }
  } restore{zipStream_, saved};

  const int64_t size = zipStream_.Size();
  if (size - h < kLocalHeaderSize) return false;
  uint8_t raw[kLocalHeaderSize];
  zipStream_.Seek(h, TSeekOrigin::soBeginning);
  zipStream_.ReadBuffer(raw, sizeof raw);
  LocalHeader local;
  DecodeLocalHeader(raw, sizeof raw, local);
  // The name must be there in full, though it is not compared: writers disagree on separators
  // and encodings between the two headers.
  if (size - h - kLocalHeaderSize < local.NameLength) return false;
  if (local.Signature != kLocalHeaderSignature) return false;
  if (h == 0) return true;
  const TDirItem& e = directory_.ItemAt(0);
  return local.Crc32 == e.Crc32 && local.VersionNeeded == e.VersionNeeded &&
         local.Method == e.Method && local.ModTime == e.ModTime && local.ModDate == e.ModDate &&
         local.CompressedSize == e.CompressedSize && local.UncompressedSize == e.UncompressedSize;
}

bool TZADirManager::OffsetsIncludeStub() const {
  for (int32_t i = 0; i < directory_.Count(); ++i) {
    const TDirItem& e = directory_.ItemAt(i);
    if (e.CompressedSize > 0) return e.LocalHeaderOffset >= static_cast<uint32_t>(stubSize_);
  }
  return true;
}

void TZADirManager::ApplyStubSize() {
  const auto stub = static_cast<uint64_t>(stubSize_);
  for (int32_t i = 0; i < directory_.Count(); ++i) {
    TDirItem& e = directory_.ItemAt(i);
    if ((e.ExternalAttributes & kAttrDirectory) != 0) continue;
    // An offset held in the Zip64 field moves there; one that no longer fits 32 bits moves to
    // it, instead of wrapping round to the start of the stream.
    if (e.LocalHeaderOffset == kZip64Marker32) {
      e.LocalHeaderOffset64 += stub;
      continue;
    }
    const uint64_t moved = uint64_t{e.LocalHeaderOffset} + stub;
    if (moved < kZip64Marker32) {
      e.LocalHeaderOffset = static_cast<uint32_t>(moved);
    } else {
      e.LocalHeaderOffset = kZip64Marker32;
      e.LocalHeaderOffset64 = moved;
    }
  }
}

}  // namespace lumen
