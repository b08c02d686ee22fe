// Single-entry ZIP writer over zlib's raw deflate, with records laid out field by field.
#include "tools/publish-release/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "archive/crc32.h"
#include "archive/zip_format.h"

namespace lumen::tools {

namespace {

// Version 2.0, the one that introduced deflate; "made by" MS-DOS, so the external attributes
// are plain DOS attributes, which the updater's platform reads as such.
constexpr uint16_t kVersion = 20;
// All-ones is the Zip64 marker, so the largest value a plain record can hold is one less.
constexpr uint64_t kMaxPlainValue = kZip64Marker32 - 1;

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

std::vector<uint8_t> DeflateRaw(const std::vector<uint8_t>& content) {
  z_stream z{};
  // Window bits -15: raw deflate without zlib's header and trailer, as ZIP stores it.
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("zlib cannot start compressing");
  }
  std::vector<uint8_t> out;
  std::vector<uint8_t> chunk(1 << 16);
  size_t consumed = 0;
  int result = Z_OK;
  do {
    // zlib counts in uInt, so large inputs are fed in pieces.
    const size_t piece = std::min<size_t>(content.size() - consumed, 1u << 30);
    if (z.avail_in == 0 && piece > 0) {
      z.next_in = const_cast<Bytef*>(content.data() + consumed);
      z.avail_in = static_cast<uInt>(piece);
      consumed += piece;
    }
    const int flush = consumed == content.size() ? Z_FINISH : Z_NO_FLUSH;
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    result = deflate(&z, flush);
    if (result == Z_STREAM_ERROR) {
      deflateEnd(&z);
      throw std::runtime_error("zlib failed while compressing");
    }
    out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
  } while (result != Z_STREAM_END);
  deflateEnd(&z);
  return out;
}

// DOS date and time: two-second resolution, years 1980 to 2107.
void DosDateTime(std::time_t when, uint16_t& dosTime, uint16_t& dosDate) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) local = std::tm{};
  int year = local.tm_year + 1900;
  if (year < 1980) {
    dosTime = 0;
    dosDate = (1 << 5) | 1;  // 1980-01-01
    return;
  }
  if (year > 2107) {
    year = 2107;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 58;
  }
  dosTime = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                  (std::min(local.tm_sec, 59) / 2));
  dosDate = static_cast<uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

}  // namespace

std::vector<uint8_t> WriteSingleEntryArchive(std::string_view entryName,
                                             const std::vector<uint8_t>& content,
                                             std::time_t modified) {
  if (entryName.empty() || entryName.size() > 0xFFFF) {
    throw std::length_error("entry name must have 1 to 65535 bytes");
  }
  for (char c : entryName) {
    // Without the UTF-8 flag, readers take name bytes as their OEM code page; ASCII reads the
    // same in all of them.
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
      throw std::invalid_argument("entry name must be printable ASCII");
    }
  }
  if (content.size() > kMaxPlainValue) {
    throw std::length_error("the file is too large for an archive without Zip64 records");
  }
  const std::vector<uint8_t> packed = DeflateRaw(content);
  const uint64_t localSize = kLocalHeaderSize + entryName.size() + packed.size();
  if (packed.size() > kMaxPlainValue || localSize > kMaxPlainValue) {
    throw std::length_error("the archive would be too large without Zip64 records");
  }
  const uint32_t crc = Crc32Of(content.data(), content.size());
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  DosDateTime(modified, dosTime, dosDate);
  const auto nameLength = static_cast<uint16_t>(entryName.size());
  const auto packedSize = static_cast<uint32_t>(packed.size());
  const auto plainSize = static_cast<uint32_t>(content.size());

  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(localSize) + kCentralHeaderSize + entryName.size() +
              kEndRecordSize);
  PutU32(out, kLocalHeaderSignature);
  PutU16(out, kVersion);  // needed to extract
  PutU16(out, 0);         // flags
  PutU16(out, kMethodDeflate);
  PutU16(out, dosTime);
  PutU16(out, dosDate);
  PutU32(out, crc);
  PutU32(out, packedSize);
  PutU32(out, plainSize);
  PutU16(out, nameLength);
  PutU16(out, 0);  // extra field length
  out.insert(out.end(), entryName.begin(), entryName.end());
  out.insert(out.end(), packed.begin(), packed.end());

  const auto centralOffset = static_cast<uint32_t>(out.size());
  PutU32(out, kCentralHeaderSignature);
  PutU16(out, kVersion);  // made by
  PutU16(out, kVersion);  // needed to extract
  PutU16(out, 0);         // flags
  PutU16(out, kMethodDeflate);
  PutU16(out, dosTime);
  PutU16(out, dosDate);
  PutU32(out, crc);
  PutU32(out, packedSize);
  PutU32(out, plainSize);
  PutU16(out, nameLength);
  PutU16(out, 0);  // extra field length
  PutU16(out, 0);  // comment length
  PutU16(out, 0);  // disk number start
  PutU16(out, 0);  // internal attributes
  PutU32(out, kAttrArchive);
  PutU32(out, 0);  // local header offset
  out.insert(out.end(), entryName.begin(), entryName.end());
  const auto centralSize = static_cast<uint32_t>(out.size() - centralOffset);

  PutU32(out, kEndRecordSignature);
  PutU16(out, 0);  // this disk
  PutU16(out, 0);  // disk with the directory
  PutU16(out, 1);  // entries on this disk
  PutU16(out, 1);  // entries in total
  PutU32(out, centralSize);
  PutU32(out, centralOffset);
  PutU16(out, 0);  // comment length
  return out;
}

}  // namespace lumen::tools
