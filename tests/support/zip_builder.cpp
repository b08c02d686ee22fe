// Test-only ZIP writer: records are appended field by field in little-endian order, exactly as the
// application note lays them out.
#include "tests/support/zip_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace lumen::test {

void PutU8(Bytes& out, uint8_t v) {
  out.push_back(v);
}
void PutU16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}
void PutU64(Bytes& out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v));
  PutU32(out, static_cast<uint32_t>(v >> 32));
}
void PutBytes(Bytes& out, std::string_view bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}
void PutBytes(Bytes& out, const Bytes& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}
Bytes ToBytes(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

void SetU16(Bytes& out, size_t at, uint16_t v) {
  out.at(at + 1);
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void SetU32(Bytes& out, size_t at, uint32_t v) {
  SetU16(out, at, static_cast<uint16_t>(v));
  SetU16(out, at + 2, static_cast<uint16_t>(v >> 16));
}

uint32_t ReferenceCrc32(std::string_view data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32_z(crc, reinterpret_cast<const Bytef*>(data.data()), data.size());
  return static_cast<uint32_t>(crc);
}

Bytes DeflateRaw(std::string_view data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  const size_t produced = zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(produced);
  return out;
}

Bytes ExtraBlockBytes(uint16_t tag, const Bytes& data) {
  Bytes out;
  PutU16(out, tag);
  PutU16(out, static_cast<uint16_t>(data.size()));
  PutBytes(out, data);
  return out;
}

Bytes Zip64ExtraBlock(const std::vector<uint64_t>& values, std::optional<uint32_t> disk) {
  Bytes data;
  for (uint64_t v : values) PutU64(data, v);
  if (disk) PutU32(data, *disk);
  return ExtraBlockBytes(0x0001, data);
}

Bytes UnicodeNameBlock(std::u16string_view name, uint32_t signature,
                       std::optional<uint32_t> count) {
  Bytes data;
  PutU32(data, signature);
  PutU32(data, count.value_or(static_cast<uint32_t>(name.size())));
  for (char16_t c : name) PutU16(data, c);
  return ExtraBlockBytes(0x554E, data);
}

Bytes AesExtraBlock(uint8_t strength, uint16_t method, uint16_t vendorVersion) {
  Bytes data;
  PutU16(data, vendorVersion);
  PutBytes(data, "AE");
  PutU8(data, strength);
  PutU16(data, method);
  return ExtraBlockBytes(0x9901, data);
}

ZipEntry& ZipBuilder::AddStored(std::string name, std::string_view content) {
  ZipEntry e;
  e.name = std::move(name);
  e.data = ToBytes(content);
  e.crc32 = ReferenceCrc32(content);
  e.compressedSize = e.uncompressedSize = static_cast<uint32_t>(content.size());
  return Add(std::move(e));
}

ZipEntry& ZipBuilder::AddDeflated(std::string name, std::string_view content) {
  ZipEntry e;
  e.name = std::move(name);
  e.method = 8;
  e.data = DeflateRaw(content);
  e.crc32 = ReferenceCrc32(content);
  e.compressedSize = static_cast<uint32_t>(e.data.size());
  e.uncompressedSize = static_cast<uint32_t>(content.size());
  return Add(std::move(e));
}

ZipEntry& ZipBuilder::AddFolder(std::string name) {
  ZipEntry e;
  e.name = std::move(name);
  e.versionNeeded = 10;
  e.externalAttributes = 0x10;
  return Add(std::move(e));
}

ZipEntry& ZipBuilder::Add(ZipEntry entry) {
  entries_.push_back(std::move(entry));
  return entries_.back();
}

ZipBuilder& ZipBuilder::SetPrefix(Bytes prefix, bool offsetsCountPrefix) {
  prefix_ = std::move(prefix);
  offsetsCountPrefix_ = offsetsCountPrefix;
  return *this;
}

ZipBuilder& ZipBuilder::SetComment(std::string comment) {
  comment_ = std::move(comment);
  return *this;
}

ZipBuilder& ZipBuilder::SetTrailer(Bytes trailer) {
  trailer_ = std::move(trailer);
  return *this;
}

ZipBuilder& ZipBuilder::SetZip64(bool on) {
  zip64_ = on;
  return *this;
}

ZipLayout ZipBuilder::Build() const {
  ZipLayout z;
  Bytes& out = z.bytes;
  PutBytes(out, prefix_);
  const uint64_t bias = offsetsCountPrefix_ ? 0 : prefix_.size();
  constexpr uint32_t kMarker = 0xFFFFFFFF;

  for (const ZipEntry& e : entries_) {
    z.localOffsets.push_back(out.size());
    const uint16_t flags = e.dataDescriptor ? static_cast<uint16_t>(e.flags | 0x0008) : e.flags;
    Bytes extra;
    if (e.zip64) PutBytes(extra, Zip64ExtraBlock({e.uncompressedSize, e.compressedSize}));
    PutBytes(extra, e.localExtra);
    PutU32(out, 0x04034b50);
    PutU16(out, e.versionNeeded);
    PutU16(out, flags);
    PutU16(out, e.method);
    PutU16(out, e.modTime);
    PutU16(out, e.modDate);
    PutU32(out, e.dataDescriptor ? 0 : e.crc32);
    PutU32(out, e.dataDescriptor ? 0 : (e.zip64 ? kMarker : e.compressedSize));
    PutU32(out, e.dataDescriptor ? 0 : (e.zip64 ? kMarker : e.uncompressedSize));
    PutU16(out, static_cast<uint16_t>(e.name.size()));
    PutU16(out, static_cast<uint16_t>(extra.size()));
    PutBytes(out, e.name);
    PutBytes(out, extra);
    PutBytes(out, e.data);
    if (e.dataDescriptor) {
      PutU32(out, 0x08074b50);
      PutU32(out, e.crc32);
      PutU32(out, e.compressedSize);
      PutU32(out, e.uncompressedSize);
    }
  }

  z.centralOffset = out.size();
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ZipEntry& e = entries_[i];
    const uint64_t offset = z.localOffsets[i] - bias;
    const uint16_t flags = e.dataDescriptor ? static_cast<uint16_t>(e.flags | 0x0008) : e.flags;
    Bytes extra;
    if (e.zip64) PutBytes(extra, Zip64ExtraBlock({e.uncompressedSize, e.compressedSize, offset}));
    PutBytes(extra, e.centralExtra);
    PutU32(out, 0x02014b50);
    PutU16(out, e.versionMadeBy);
    PutU16(out, e.versionNeeded);
    PutU16(out, flags);
    PutU16(out, e.method);
    PutU16(out, e.modTime);
    PutU16(out, e.modDate);
    PutU32(out, e.crc32);
    PutU32(out, e.zip64 ? kMarker : e.compressedSize);
    PutU32(out, e.zip64 ? kMarker : e.uncompressedSize);
    PutU16(out, static_cast<uint16_t>(e.name.size()));
    PutU16(out, static_cast<uint16_t>(extra.size()));
    PutU16(out, static_cast<uint16_t>(e.comment.size()));
    PutU16(out, e.diskNumberStart);
    PutU16(out, e.internalAttributes);
    PutU32(out, e.externalAttributes);
    PutU32(out, e.storedOffset.value_or(e.zip64 ? kMarker : static_cast<uint32_t>(offset)));
    PutBytes(out, e.name);
    PutBytes(out, extra);
    PutBytes(out, e.comment);
  }
  z.centralSize = out.size() - z.centralOffset;

  const uint64_t count = entries_.size();
  if (zip64_) {
    z.zip64EndOffset = out.size();
    PutU32(out, 0x06064b50);
    PutU64(out, 44);
    PutU16(out, 45);
    PutU16(out, 45);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU64(out, count);
    PutU64(out, count);
    PutU64(out, z.centralSize);
    PutU64(out, z.centralOffset - bias);
    PutU32(out, 0x07064b50);
    PutU32(out, 0);
    PutU64(out, z.zip64EndOffset - bias);
    PutU32(out, 1);
  }

  z.endRecordOffset = out.size();
  const uint16_t count16 = zip64_ ? 0xFFFF : static_cast<uint16_t>(count);
  PutU32(out, 0x06054b50);
  PutU16(out, end_.diskNumber.value_or(0));
  PutU16(out, end_.directoryDisk.value_or(0));
  PutU16(out, end_.entriesOnDisk.value_or(count16));
  PutU16(out, end_.totalEntries.value_or(count16));
  PutU32(out, end_.directorySize.value_or(zip64_ ? kMarker : static_cast<uint32_t>(z.centralSize)));
  PutU32(out, end_.directoryOffset.value_or(
                  zip64_ ? kMarker : static_cast<uint32_t>(z.centralOffset - bias)));
  PutU16(out, end_.commentLength.value_or(static_cast<uint16_t>(comment_.size())));
  PutBytes(out, comment_);
  PutBytes(out, trailer_);
  return z;
}

std::unique_ptr<TMemoryStream> MakeStream(const Bytes& bytes) {
  auto s = std::make_unique<TMemoryStream>();
  if (!bytes.empty()) s->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

}  // namespace lumen::test
