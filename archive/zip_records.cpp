// Decoders of the ZIP records: each record is read whole, then taken apart in field order through
// a bounds-checked cursor whose state is checked once per record.
#include "archive/zip_records.h"

#include "archive/byte_cursor.h"
#include "archive/zip_format.h"

namespace lumen {

uint32_t LoadU32(const uint8_t* data) noexcept {
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

bool DecodeEndRecord(const uint8_t* data, size_t size, EndRecord& out) {
  TByteCursor c(data, size);
  EndRecord r;
  r.Signature = c.U32();
  r.DiskNumber = c.U16();
  r.DirectoryDisk = c.U16();
  r.EntriesOnDisk = c.U16();
  r.TotalEntries = c.U16();
  r.DirectorySize = c.U32();
  r.DirectoryOffset = c.U32();
  r.CommentLength = c.U16();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

bool DecodeZip64Locator(const uint8_t* data, size_t size, Zip64Locator& out) {
  TByteCursor c(data, size);
  Zip64Locator r;
  r.Signature = c.U32();
  r.Zip64EndDisk = c.U32();
  r.Zip64EndOffset = c.U64();
  r.TotalDisks = c.U32();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

bool DecodeZip64EndRecord(const uint8_t* data, size_t size, Zip64EndRecord& out) {
  TByteCursor c(data, size);
  Zip64EndRecord r;
  r.Signature = c.U32();
  r.RecordSize = c.U64();
  r.VersionMadeBy = c.U16();
  r.VersionNeeded = c.U16();
  r.DiskNumber = c.U32();
  r.DirectoryDisk = c.U32();
  r.EntriesOnDisk = c.U64();
  r.TotalEntries = c.U64();
  r.DirectorySize = c.U64();
  r.DirectoryOffset = c.U64();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

bool DecodeCentralHeader(const uint8_t* data, size_t size, CentralHeader& out) {
  TByteCursor c(data, size);
  CentralHeader r;
  r.Signature = c.U32();
  r.VersionMadeBy = c.U16();
  r.VersionNeeded = c.U16();
  r.Flags = c.U16();
  r.Method = c.U16();
  r.ModTime = c.U16();
  r.ModDate = c.U16();
  r.Crc32 = c.U32();
  r.CompressedSize = c.U32();
  r.UncompressedSize = c.U32();
  r.NameLength = c.U16();
  r.ExtraLength = c.U16();
  r.CommentLength = c.U16();
  r.DiskNumberStart = c.U16();
  r.InternalAttributes = c.U16();
  r.ExternalAttributes = c.U32();
  r.LocalHeaderOffset = c.U32();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

bool DecodeLocalHeader(const uint8_t* data, size_t size, LocalHeader& out) {
  TByteCursor c(data, size);
  LocalHeader r;
  r.Signature = c.U32();
  r.VersionNeeded = c.U16();
  r.Flags = c.U16();
  r.Method = c.U16();
  r.ModTime = c.U16();
  r.ModDate = c.U16();
  r.Crc32 = c.U32();
  r.CompressedSize = c.U32();
  r.UncompressedSize = c.U32();
  r.NameLength = c.U16();
  r.ExtraLength = c.U16();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

bool DecodeDataDescriptor(const uint8_t* data, size_t size, DataDescriptor& out) {
  TByteCursor c(data, size);
  DataDescriptor r;
  r.Signature = c.U32();
  r.Crc32 = c.U32();
  r.CompressedSize = c.U32();
  r.UncompressedSize = c.U32();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

std::vector<ExtraBlock> SplitExtraArea(const uint8_t* data, size_t size) {
  std::vector<ExtraBlock> blocks;
  TByteCursor c(data, size);
  while (c.Remaining() >= static_cast<size_t>(kExtraBlockHeaderSize)) {
    ExtraBlock block;
    block.Tag = c.U16();
    const size_t stated = c.U16();
    // Writers that get the last block's length wrong are common enough that the block is kept
    // with the bytes that are there rather than dropped.
    const size_t taken = stated <= c.Remaining() ? stated : c.Remaining();
    const uint8_t* p = c.Bytes(taken);
    block.Size = static_cast<uint16_t>(taken);
    block.Data.assign(p, p + taken);
    blocks.push_back(std::move(block));
  }
  return blocks;
}

Zip64ExtraInfo DecodeZip64Extra(const uint8_t* data, size_t size, const CentralHeader& header) {
  Zip64ExtraInfo info;
  TByteCursor c(data, size);
  // Each value's position depends on the ones before it, so the first value that is not there
  // whole ends the block: nothing after it can be placed.
  auto take64 = [&c](bool marked, std::optional<uint64_t>& slot) {
    if (!marked || !c.Ok()) return;
    const uint64_t v = c.U64();
    if (c.Ok()) slot = v;
  };
  take64(header.UncompressedSize == kZip64Marker32, info.UncompressedSize);
  take64(header.CompressedSize == kZip64Marker32, info.CompressedSize);
  take64(header.LocalHeaderOffset == kZip64Marker32, info.LocalHeaderOffset);
  if (header.DiskNumberStart == kZip64Marker16 && c.Ok()) {
    // The disk number is stored in 32 bits; only its low half fits the item's 16-bit field.
    const uint16_t disk = c.U16();
    if (c.Ok()) info.DiskNumberStart = disk;
  }
  return info;
}

bool DecodeAesExtra(const uint8_t* data, size_t size, AesExtraField& out) {
  TByteCursor c(data, size);
  AesExtraField r;
  r.VendorVersion = c.U16();
  r.VendorId = c.U16();
  r.Strength = c.U8();
  r.Method = c.U16();
  if (!c.Ok()) return false;
  out = r;
  return true;
}

bool TUnicodeExtendedInfo::LoadFromBytes(const uint8_t* data, size_t size) {
  TByteCursor c(data, size);
  const uint32_t signature = c.U32();
  if (!c.Ok()) return false;
  RecordSignature = static_cast<int32_t>(signature);
  if (signature != kUnicodeNameSignature) return false;
  const uint32_t units = c.U32();
  // A count that the block cannot hold is damage, not a name: the header's name stays.
  if (!c.Ok() || units > c.Remaining() / 2) return false;
  std::u16string name(units, u'\0');
  for (auto& unit : name) unit = static_cast<char16_t>(c.U16());
  Name = std::move(name);
  return true;
}

}  // namespace lumen
