// Fixed facts of the ZIP format as this reader uses them: record signatures and sizes, extra-block
// tags, the Zip64 markers, the general-purpose flags it consults and the methods it knows.
#pragma once

#include <cstdint>

namespace lumen {

// Record signatures, as the little-endian value of their first four bytes.
inline constexpr uint32_t kLocalHeaderSignature = 0x04034b50;     // 50 4B 03 04
inline constexpr uint32_t kDataDescriptorSignature = 0x08074b50;  // 50 4B 07 08
inline constexpr uint32_t kCentralHeaderSignature = 0x02014b50;   // 50 4B 01 02
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064b50;  // 50 4B 06 06
inline constexpr uint32_t kZip64LocatorSignature = 0x07064b50;    // 50 4B 06 07
inline constexpr uint32_t kEndRecordSignature = 0x06054b50;       // 50 4B 05 06

// Sizes of the fixed parts; names, extra areas and comments follow them.
inline constexpr int64_t kLocalHeaderSize = 30;
inline constexpr int64_t kDataDescriptorSize = 16;
inline constexpr int64_t kCentralHeaderSize = 46;
inline constexpr int64_t kZip64EndRecordSize = 56;
inline constexpr int64_t kZip64LocatorSize = 20;
inline constexpr int64_t kEndRecordSize = 22;
inline constexpr int64_t kExtraBlockHeaderSize = 4;

// The end record is looked for in this many bytes at the end of the stream: the record, the
// longest comment (65,535 bytes) and a little slack for bytes after it.
inline constexpr int64_t kEndRecordSearchSize = 65600;

// All-ones values of a field mean that the true value is in a Zip64 record.
inline constexpr uint16_t kZip64Marker16 = 0xFFFF;
inline constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;

// Extra-block tags this reader interprets; every other block is only kept.
inline constexpr uint16_t kZip64ExtraTag = 0x0001;
inline constexpr uint16_t kUnicodeNameTag = 0x554E;  // our own UTF-16 name block
inline constexpr uint16_t kAesExtraTag = 0x9901;

inline constexpr uint32_t kUnicodeNameSignature = 0x5843554E;  // the bytes "NUCX"
inline constexpr int64_t kUnicodeNameHeaderSize = 8;           // signature + unit count
inline constexpr int64_t kAesExtraSize = 7;

// General-purpose flags the read path consults; every other bit is ignored.
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;

// From this "version needed" on, the AES block is not honoured and an encrypted entry is not taken
// for traditional encryption.
inline constexpr uint16_t kVersionStrongEncryption = 0x4114;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflate = 8;
inline constexpr uint16_t kMethodDeflate64 = 9;
inline constexpr uint16_t kMethodAes = 99;

// External attributes in the host's (DOS) form.
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

}  // namespace lumen
