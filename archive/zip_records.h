// The ZIP records the read path decodes, each taken apart field by field from little-endian bytes.
// Every decoder is handed the bytes it may look at and reports a record cut short by returning
// false; none reads past the range it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumen {

struct EndRecord {
  uint32_t Signature = 0;
  uint16_t DiskNumber = 0;
  uint16_t DirectoryDisk = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirectorySize = 0;
  uint32_t DirectoryOffset = 0;
  uint16_t CommentLength = 0;
};

struct Zip64Locator {
  uint32_t Signature = 0;
  uint32_t Zip64EndDisk = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalDisks = 0;
};

struct Zip64EndRecord {
  uint32_t Signature = 0;
  uint64_t RecordSize = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint32_t DiskNumber = 0;
  uint32_t DirectoryDisk = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t DirectorySize = 0;
  uint64_t DirectoryOffset = 0;
};

// The 46 fixed bytes of a central directory header.
struct CentralHeader {
  uint32_t Signature = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t ModTime = 0;
  uint16_t ModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
};

// The 30 fixed bytes of a local file header.
struct LocalHeader {
  uint32_t Signature = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t ModTime = 0;
  uint16_t ModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
};

// Only the form that starts with its signature is recognised.
struct DataDescriptor {
  uint32_t Signature = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
};

bool DecodeEndRecord(const uint8_t* data, size_t size, EndRecord& out);
bool DecodeZip64Locator(const uint8_t* data, size_t size, Zip64Locator& out);
bool DecodeZip64EndRecord(const uint8_t* data, size_t size, Zip64EndRecord& out);
bool DecodeCentralHeader(const uint8_t* data, size_t size, CentralHeader& out);
bool DecodeLocalHeader(const uint8_t* data, size_t size, LocalHeader& out);
bool DecodeDataDescriptor(const uint8_t* data, size_t size, DataDescriptor& out);

// The little-endian 32-bit value at data, which must hold four bytes; used to test signatures.
uint32_t LoadU32(const uint8_t* data) noexcept;

// One block of an extra area: its header ID and the bytes that followed it.
struct ExtraBlock {
  uint16_t Tag = 0;
  uint16_t Size = 0;  // always Data.size()
  std::vector<uint8_t> Data;
};

// Splits an extra area into its blocks in stored order. A block whose stated size runs past the
// area is cut to the bytes that remain; fewer than four bytes left end the area.
std::vector<ExtraBlock> SplitExtraArea(const uint8_t* data, size_t size);

// Values of a Zip64 extended-information block (tag 0x0001). A value is stored only when the
// header's field holds the marker, in the order below; a value the block is too short to hold
// whole is absent, and so is every value after it.
struct Zip64ExtraInfo {
  std::optional<uint64_t> UncompressedSize;
  std::optional<uint64_t> CompressedSize;
  std::optional<uint64_t> LocalHeaderOffset;
  std::optional<uint16_t> DiskNumberStart;  // the low 16 bits of the stored 32-bit number
};
Zip64ExtraInfo DecodeZip64Extra(const uint8_t* data, size_t size, const CentralHeader& header);

// The AES block (tag 0x9901) of the AE-1/AE-2 format.
struct AesExtraField {
  uint16_t VendorVersion = 0;
  uint16_t VendorId = 0;
  uint8_t Strength = 0;  // 1, 2, 3: 128, 192, 256-bit keys
  uint16_t Method = 0;   // the compression method under the encryption
};
// False for a block shorter than its 7 bytes; such a block is ignored.
bool DecodeAesExtra(const uint8_t* data, size_t size, AesExtraField& out);

// Parser of our own Unicode name block (tag 0x554E): "NUCX", a count N of UTF-16 units, then the
// name in N little-endian units.
class TUnicodeExtendedInfo {
 public:
  std::u16string Name;
  int32_t RecordSignature = 0;

  // True when the bytes are such a block; Name then holds the name. A block with another
  // signature, or whose count promises more units than it holds, is not one.
  bool LoadFromBytes(const uint8_t* data, size_t size);
};

}  // namespace lumen
