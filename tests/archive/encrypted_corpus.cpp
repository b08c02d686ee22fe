// Reads only what the cipher tests need from well-formed corpus archives; every offset is checked
// against the file size so that a broken fixture fails loudly instead of reading garbage.
#include "encrypted_corpus.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace lumen::testing {

namespace {

struct Reader {
  const std::vector<uint8_t>& bytes;

  void Need(uint64_t offset, uint64_t count) const {
    if (offset > bytes.size() || count > bytes.size() - offset) {
      throw std::runtime_error("corpus archive is shorter than its records say");
    }
  }
  uint16_t U16(uint64_t at) const {
    Need(at, 2);
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
  }
  uint32_t U32(uint64_t at) const {
    return static_cast<uint32_t>(U16(at)) | (static_cast<uint32_t>(U16(at + 2)) << 16);
  }
};

}  // namespace

const RawEntry& RawArchive::Entry(const std::string& name) const {
  for (const RawEntry& e : entries) {
    if (e.name == name) return e;
  }
  throw std::runtime_error("no entry " + name);
}

std::vector<uint8_t> RawArchive::Data(const RawEntry& entry) const {
  Reader{bytes}.Need(entry.dataOffset, entry.compressedSize);
  const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(entry.dataOffset);
  return {first, first + static_cast<std::ptrdiff_t>(entry.compressedSize)};
}

RawArchive LoadCorpusArchive(const std::string& relativePath) {
  RawArchive archive;
  const std::string path = std::string(LUMEN_CORPUS_DIR) + "/" + relativePath;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  archive.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const Reader r{archive.bytes};

  // The fixtures carry no archive comment, so the end record sits in the last 22 bytes or a
  // little earlier when padding follows it; search backwards for its signature.
  if (archive.bytes.size() < 22) throw std::runtime_error("no end record in " + path);
  uint64_t end = archive.bytes.size() - 22;
  while (r.U32(end) != 0x06054b50) {
    if (end == 0) throw std::runtime_error("no end record in " + path);
    --end;
  }
  const uint16_t count = r.U16(end + 10);
  uint64_t at = r.U32(end + 16);
  for (uint16_t i = 0; i < count; ++i) {
    if (r.U32(at) != 0x02014b50) throw std::runtime_error("bad central header in " + path);
    RawEntry e;
    e.flags = r.U16(at + 8);
    e.method = r.U16(at + 10);
    e.crc32 = r.U32(at + 16);
    e.compressedSize = r.U32(at + 20);
    e.uncompressedSize = r.U32(at + 24);
    const uint16_t nameLen = r.U16(at + 28);
    const uint16_t extraLen = r.U16(at + 30);
    const uint16_t commentLen = r.U16(at + 32);
    e.localHeaderOffset = r.U32(at + 42);
    r.Need(at + 46, nameLen);
    e.name.assign(archive.bytes.begin() + static_cast<std::ptrdiff_t>(at + 46),
                  archive.bytes.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLen));
    for (uint64_t x = at + 46 + nameLen; x + 4 <= at + 46 + nameLen + extraLen;) {
      const uint16_t id = r.U16(x);
      const uint16_t size = r.U16(x + 2);
      if (id == 0x9901 && size >= 7) {
        e.aesVersion = r.U16(x + 4);
        r.Need(x + 8, 1);  // version, then the vendor "AE", then strength and inner method
        e.aesStrength = archive.bytes[x + 8];
        e.aesMethod = r.U16(x + 9);
      }
      x += 4 + uint64_t{size};
    }
    const uint64_t local = e.localHeaderOffset;
    if (r.U32(local) != 0x04034b50) throw std::runtime_error("bad local header in " + path);
    e.localFlags = r.U16(local + 6);
    e.localModTime = r.U16(local + 10);
    e.localCrc32 = r.U32(local + 14);
    e.dataOffset = local + 30 + r.U16(local + 26) + r.U16(local + 28);
    r.Need(e.dataOffset, e.compressedSize);
    archive.entries.push_back(e);
    at += 46 + uint64_t{nameLen} + extraLen + commentLen;
  }
  return archive;
}

std::vector<uint8_t> InflateRaw(const uint8_t* data, size_t size) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2 failed");
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(65536);
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  int rc = Z_OK;
  do {
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&zs);
      throw std::runtime_error("inflate rejected the data");
    }
    out.insert(out.end(), buffer.data(), zs.next_out);
  } while (rc != Z_STREAM_END);
  inflateEnd(&zs);
  return out;
}

}  // namespace lumen::testing
