// Test-only ZIP writer that lays archives out byte by byte, so that a test can build exactly the
// archive (or the damage) it needs without going through the reader's own code.
//
// Typical use:
//   ZipBuilder zb;
//   zb.AddStored("readme.txt", "hello");            // real CRC and sizes
//   zb.AddDeflated("bin/tool.exe", content).flags |= 0x0800;
//   zb.SetPrefix(Bytes(1000, 0x90));                 // data before the archive
//   ZipLayout z = zb.Build();                        // bytes plus where each record landed
//   z.bytes[z.centralOffset + 10] = 0xFF;            // then corrupt what the test is about
//   auto stream = MakeStream(z.bytes);
//
// Every field of every record can be set through ZipEntry and EndRecordFields; Build() writes
// them as given (it only fills offsets and, for the conveniences noted below, markers).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stream.h"

namespace lumen::test {

using Bytes = std::vector<uint8_t>;

// Little-endian appenders.
void PutU8(Bytes& out, uint8_t v);
void PutU16(Bytes& out, uint16_t v);
void PutU32(Bytes& out, uint32_t v);
void PutU64(Bytes& out, uint64_t v);
void PutBytes(Bytes& out, std::string_view bytes);
void PutBytes(Bytes& out, const Bytes& bytes);
Bytes ToBytes(std::string_view s);
// Overwrites at an offset of an existing buffer (the buffer must be long enough).
void SetU16(Bytes& out, size_t at, uint16_t v);
void SetU32(Bytes& out, size_t at, uint32_t v);

// zlib's CRC-32 and raw deflate (no zlib header), independent of the reader's own code.
uint32_t ReferenceCrc32(std::string_view data);
Bytes DeflateRaw(std::string_view data);

// Extra blocks: tag, 16-bit size, data.
Bytes ExtraBlockBytes(uint16_t tag, const Bytes& data);
// Zip64 extended information with the given 8-byte values, then an optional 4-byte disk number.
Bytes Zip64ExtraBlock(const std::vector<uint64_t>& values, std::optional<uint32_t> disk = {});
// The Unicode name block: signature ("NUCX" by default), unit count (by default the name's length),
// the name in UTF-16LE.
Bytes UnicodeNameBlock(std::u16string_view name, uint32_t signature = 0x5843554E,
                       std::optional<uint32_t> count = {});
// The AES block: vendor version, "AE", strength (1..3), the method under the encryption.
Bytes AesExtraBlock(uint8_t strength, uint16_t method, uint16_t vendorVersion = 2);

struct ZipEntry {
  std::string name;  // the stored name bytes
  Bytes data;        // what follows the local header's name and extra area (compressed data)
  uint16_t versionMadeBy = 20;
  uint16_t versionNeeded = 20;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0x6000;
  uint16_t modDate = 0x5A21;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0x20;
  Bytes localExtra;
  Bytes centralExtra;
  std::string comment;
  // Writes 0xFFFFFFFF for both sizes and the offset in the central header and puts a Zip64 block
  // with their values before centralExtra; the local header gets markers and a Zip64 block too.
  bool zip64 = false;
  // Sets flag bit 3, writes zero CRC and sizes in the local header and a signed data descriptor
  // after the data; the central header keeps the real values.
  bool dataDescriptor = false;
  // Stored in the central header instead of the real offset of the local header.
  std::optional<uint32_t> storedOffset;
};

// Values written into the end record instead of the ones Build() computes.
struct EndRecordFields {
  std::optional<uint16_t> diskNumber;
  std::optional<uint16_t> directoryDisk;
  std::optional<uint16_t> entriesOnDisk;
  std::optional<uint16_t> totalEntries;
  std::optional<uint32_t> directorySize;
  std::optional<uint32_t> directoryOffset;
  std::optional<uint16_t> commentLength;
};

// The archive's bytes and where its records start, as stream positions (prefix included).
struct ZipLayout {
  Bytes bytes;
  std::vector<uint64_t> localOffsets;
  uint64_t centralOffset = 0;
  uint64_t centralSize = 0;
  uint64_t zip64EndOffset = 0;  // 0 unless Zip64 records were written
  uint64_t endRecordOffset = 0;
};

class ZipBuilder {
 public:
  // An entry with its real CRC and sizes, stored or deflated.
  ZipEntry& AddStored(std::string name, std::string_view content);
  ZipEntry& AddDeflated(std::string name, std::string_view content);
  // A directory entry (no data, attribute 0x10).
  ZipEntry& AddFolder(std::string name);
  // Any entry exactly as given.
  ZipEntry& Add(ZipEntry entry);

  std::vector<ZipEntry>& Entries() { return entries_; }

  // Bytes before the archive. When offsets do not count the prefix, every stored offset
  // (local headers, directory, Zip64 end record) is the position within the archive proper.
  ZipBuilder& SetPrefix(Bytes prefix, bool offsetsCountPrefix = true);
  ZipBuilder& SetComment(std::string comment);
  // Bytes after the comment.
  ZipBuilder& SetTrailer(Bytes trailer);
  // Writes a Zip64 end record and locator; the end record then holds 0xFFFF/0xFFFFFFFF markers.
  ZipBuilder& SetZip64(bool on = true);
  EndRecordFields& EndRecord() { return end_; }

  ZipLayout Build() const;

 private:
  std::vector<ZipEntry> entries_;
  Bytes prefix_;
  bool offsetsCountPrefix_ = true;
  std::string comment_;
  Bytes trailer_;
  bool zip64_ = false;
  EndRecordFields end_;
};

// A memory stream holding the bytes, positioned at 0.
std::unique_ptr<TMemoryStream> MakeStream(const Bytes& bytes);

}  // namespace lumen::test
