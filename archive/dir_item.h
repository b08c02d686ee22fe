// One entry of the loaded archive directory: the central header's fixed fields as stored, the
// decoded name, the extra blocks, and what loading derives from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/za_types.h"
#include "archive/zip_format.h"
#include "archive/zip_records.h"

namespace lumen {

class TStream;

// The header fields (inherited, named as in the central header) hold exactly what was stored; where
// one holds the Zip64 marker, the matching 64-bit field below holds the value. Use the ...Value()
// helpers to read a size or offset without caring which.
struct TDirItem : CentralHeader {
  std::u16string Name;        // as stored, case and separators kept
  std::u16string SecondName;  // empty after loading
  std::string Comment;        // raw bytes
  std::vector<ExtraBlock> ExtraFields;
  TZACryptoAlgorithm CryptoAlgorithm = caPkzipClassic;  // when Flags bit 0
  bool HasZip64Info = false;
  uint64_t UncompressedSize64 = 0;
  uint64_t CompressedSize64 = 0;
  uint64_t LocalHeaderOffset64 = 0;
  uint32_t DiskNumberStart32 = 0;
  // Working fields of the writing operations; empty after loading.
  uint8_t Marker = 0;
  std::string EntryPassword;
  TStream* SourceStream = nullptr;  // never owned by the item
  bool OwnsSourceStream = false;
  std::u16string DiskFileName;
  uint16_t ActualMethod = 0;  // method of the data once any encryption is removed
  uint8_t CompressionLevelCode = 0;
  uint8_t OperationCode = 0;

  uint64_t UncompressedSizeValue() const noexcept {
    return UncompressedSize == kZip64Marker32 ? UncompressedSize64 : UncompressedSize;
  }
  uint64_t CompressedSizeValue() const noexcept {
    return CompressedSize == kZip64Marker32 ? CompressedSize64 : CompressedSize;
  }
  uint64_t LocalHeaderOffsetValue() const noexcept {
    return LocalHeaderOffset == kZip64Marker32 ? LocalHeaderOffset64 : LocalHeaderOffset;
  }
  uint32_t DiskNumberStartValue() const noexcept {
    return DiskNumberStart == kZip64Marker16 ? DiskNumberStart32 : DiskNumberStart;
  }
  bool IsEncrypted() const noexcept { return (Flags & kFlagEncrypted) != 0; }
};

}  // namespace lumen
