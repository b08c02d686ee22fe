// Decoding one entry into the caller's stream: local header, optional decryption, stored copy or
// inflate, size and CRC-32 (or AES authentication) checks, progress and the disk-full protocol.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <typeinfo>

#include "archive/aes_transform.h"
#include "archive/crc32.h"
#include "archive/dir_item.h"
#include "archive/dir_manager.h"
#include "archive/pkware_cipher.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "archive/zip_format.h"
#include "archive/zip_records.h"

namespace lumen {

namespace {

// Compressed data is read in pieces of this size, and inflated into a buffer of the same size.
constexpr int64_t kDecodeBufferSize = 0x100000;
// Stored data goes out in pieces of this size, one progress step each.
constexpr int64_t kStoredPieceSize = 65535;
// Room in front of the first chunk for the zlib header that turns raw deflate data into a zlib
// stream: deflate, 32 KiB window, no dictionary. Its Adler-32 trailer never comes; the end of the
// entry's bytes ends the stream instead.
constexpr int64_t kZlibHeaderSize = 2;
constexpr uint8_t kZlibHeader[kZlibHeaderSize] = {0x78, 0x01};
// An output in memory gets room for at most this much of the declared size up front, so that a
// lying header cannot make it reserve more.
constexpr int64_t kMaxReserve = int64_t{256} << 20;
// Deflate cannot expand its input by more than this: a 258-byte match in at most 2 bits.
constexpr int64_t kMaxDeflateRatio = 1032;

// One zlib inflate stream, ended on every path.
class InflateStream {
 public:
  InflateStream() = default;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() {
    if (initialised_) inflateEnd(&z_);
  }
  bool Init() {
    initialised_ = inflateInit(&z_) == Z_OK;
    return initialised_;
  }
  // Leaves the Adler-32 of the output to the caller, who computes it only in the rare case that
  // a trailer arrives (see TrailerMatches).
  bool SkipCheck() { return inflateValidate(&z_, 0) == Z_OK; }
  z_stream& z() noexcept { return z_; }

 private:
  z_stream z_{};
  bool initialised_ = false;
};

int AesKeyBits(TZACryptoAlgorithm algorithm) {
  switch (algorithm) {
    case caAES_128:
      return 128;
    case caAES_192:
      return 192;
    case caAES_256:
      return 256;
    default:
      return 0;
  }
}

std::unique_ptr<uint8_t[]> Buffer(int64_t size) {
  return std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
}

// A plain memory stream can be read and written in place; a class derived from it may do more in
// Read or Write (refuse bytes, count them), so only the exact class qualifies.
TMemoryStream* PlainMemoryStream(TStream& stream) {
  return typeid(stream) == typeid(TMemoryStream) ? static_cast<TMemoryStream*>(&stream) : nullptr;
}

}  // namespace

// What DecodeEntry holds for one entry; released when it returns, on every path.
struct TZADecodeState {
  TZADecodeState(TStream& archiveStream, TStream& outputStream, TDirItem& dirItem)
      : archive(archiveStream), output(outputStream), entry(dirItem) {}

  TStream& archive;
  TStream& output;
  TDirItem& entry;
  LocalHeader local;
  bool encrypted = false;
  uint32_t crc = kCrc32Initial;
  int64_t compressedSize = 0;
  int64_t readSoFar = 0;
  int64_t produced = 0;
  // The size the central directory declares; no more than this is ever written.
  int64_t declaredSize = 0;
  int64_t emitted = 0;
  // Input with room for the zlib header in front.
  std::unique_ptr<uint8_t[]> input;
  // The current chunk: in input, or where the archive holds it in memory.
  uint8_t* chunk = nullptr;
  // Set when the archive is a plain memory stream and the data needs no decryption: chunks are
  // then read where they lie instead of being copied.
  TMemoryStream* memoryArchive = nullptr;
  // Set when the output is a plain memory stream: inflate then writes into it directly.
  TMemoryStream* memoryOutput = nullptr;
  int64_t outputStart = 0;
  // The last bytes of the previous chunk, where a trailer that straddles two chunks begins.
  uint8_t previousTail[4] = {};
  std::unique_ptr<uint8_t[]> inflated;
  std::optional<InflateStream> inflater;
  std::optional<TPkwareCipher> pkware;
  std::unique_ptr<TAESCryptoTransform> aes;
};

void TZABaseArchiver::ExtractItem(int32_t index, TStream& output) {
  TZADirArray& directory = dirManager_->Directory();
  if (index < 0 || index >= directory.Count()) throw EZAException(16, this);
  TDirItem& entry = directory.ItemAt(index);
  const uint64_t offset = entry.LocalHeaderOffsetValue();
  // An offset beyond what a stream can address holds no header, as one past the end does not.
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) throw EReadError();
  archiveStream_->SetPosition(static_cast<int64_t>(offset));
  if (!DecodeEntry(*archiveStream_, output, entry) && !cancelled_ && !extractCorruptedFiles_ &&
      !skipRequested_) {
    throw EZAException(8, this);
  }
}

bool TZABaseArchiver::DecodeEntry(TStream& archive, TStream& output, TDirItem& entry) {
  TZADecodeState state(archive, output, entry);
  state.encrypted = entry.IsEncrypted();
  const int aesBits = AesKeyBits(entry.CryptoAlgorithm);
  if (state.encrypted && entry.VersionNeeded < kVersionStrongEncryption && aesBits != 0) {
    state.aes = std::make_unique<TAESCryptoTransform>(aesBits, password_);
  }

  // Only the two lengths and, for traditional encryption, the check fields are taken from the
  // local header: the central directory is the authority for everything else.
  uint8_t raw[kLocalHeaderSize];
  archive.ReadBuffer(raw, kLocalHeaderSize);
  DecodeLocalHeader(raw, sizeof raw, state.local);
  archive.Seek(int64_t{state.local.NameLength} + state.local.ExtraLength, TSeekOrigin::soCurrent);

  uint64_t compressed = entry.CompressedSize;
  uint64_t progressSize = entry.UncompressedSize;
  if (entry.CompressedSize == kZip64Marker32) {
    compressed = entry.CompressedSize64;
    progressSize = entry.UncompressedSize64;
  }
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  state.compressedSize = static_cast<int64_t>(std::min(compressed, kMax));
  // The data may not run into the central directory: a size that says so is wrong, and the bytes
  // there are not the entry's.
  const int64_t dataPosition = archive.Position();
  const int64_t directoryOffset = dirManager_->DirectoryOffset();
  if (state.compressedSize > directoryOffset - dataPosition) {
    state.compressedSize = directoryOffset - dataPosition;
  }
  const uint64_t declared = entry.UncompressedSizeValue();
  state.declaredSize = static_cast<int64_t>(std::min(declared, kMax));

  fileBytesTotal_ = progressSize == 0 ? 2 : static_cast<int64_t>(std::min(progressSize, kMax));
  fileBytesDone_ = 0;
  skipRequested_ = false;

  bool result = false;
  switch (entry.ActualMethod) {
    case kMethodStored:
    case kMethodDeflate:
      result = DecodeData(state);
      break;
    case kMethodDeflate64:
      throw EZAException(55);
    default:
      return false;
  }
  if (!result || state.produced != state.declaredSize) return false;
  // From this version on, entries carry checks of a kind this reader does not verify.
  if (entry.VersionNeeded >= kVersionStrongEncryption) return true;
  // AES entries are authenticated by their code; AE-2 writers store no CRC-32 at all.
  if (state.aes) return state.aes->ReadAndCheckAuthCode(archive);
  return ~state.crc == entry.Crc32;
}

bool TZABaseArchiver::DecodeData(TZADecodeState& state) {
  TStream& archive = state.archive;
  if (state.encrypted) {
    state.compressedSize -= state.aes ? static_cast<int64_t>(state.aes->Overhead())
                                      : static_cast<int64_t>(kPkwareHeaderSize);
    const int64_t start = archive.Position();
    const uint8_t checkByte =
        PkwareCheckByte(state.local.Flags, state.local.ModTime, state.local.Crc32);
    for (;;) {
      archive.SetPosition(start);
      bool right = false;
      if (state.aes) {
        right = state.aes->ReadHeader(archive);
      } else if (!password_.empty()) {
        uint8_t header[kPkwareHeaderSize];
        archive.ReadBuffer(header, sizeof header);
        TPkwareCipher cipher(password_);
        right = cipher.DecryptHeader(header, checkByte);
        if (right) state.pkware = cipher;
      }
      if (right) break;
      RequestPassword(state.entry.Name, password_, skipRequested_);
      if (skipRequested_) return false;
      if (state.aes && password_ != state.aes->Password()) state.aes->SetPassword(password_);
    }
  }

  const int64_t firstChunk = std::clamp<int64_t>(state.compressedSize, 0, kDecodeBufferSize);
  state.input = Buffer(firstChunk + kZlibHeaderSize);
  // Reading in place needs bytes nobody changes: not decrypted in place, not the output itself.
  if (!state.encrypted && &archive != &state.output)
    state.memoryArchive = PlainMemoryStream(archive);
  state.memoryOutput = PlainMemoryStream(state.output);
  if (state.entry.ActualMethod == kMethodDeflate) {
    state.inflater.emplace();
    if (!state.inflater->Init()) return false;
    // Adler-32 over every output byte would cost a tenth of inflating; with the output in memory
    // the check can be made afterwards, when it is needed at all.
    if (state.memoryOutput != nullptr && !state.inflater->SkipCheck()) return false;
    state.inflated = Buffer(kDecodeBufferSize);
  }
  // Growing an in-memory output step by step would copy it over and over; the declared size is
  // known, so room for it is made once. The declared size may lie, though, and the data itself
  // bounds what can come out: its own length when stored, deflate's best ratio when deflated.
  if (auto* memory = dynamic_cast<TMemoryStream*>(&state.output)) {
    const int64_t data = std::max<int64_t>(state.compressedSize, 0);
    const int64_t possible = state.entry.ActualMethod != kMethodDeflate ? data
                             : data > kMaxReserve / kMaxDeflateRatio    ? kMaxReserve
                                                                        : data * kMaxDeflateRatio;
    const int64_t room = std::min({state.declaredSize, kMaxReserve, possible});
    memory->Reserve(memory->Position() + room);
  }
  if (state.memoryOutput != nullptr) state.outputStart = state.memoryOutput->Position();

  while (state.readSoFar < state.compressedSize) {
    const int64_t chunk = std::min(kDecodeBufferSize, state.compressedSize - state.readSoFar);
    ReadChunk(state, chunk);
    if (!ProcessChunk(state, chunk)) return false;
    state.readSoFar += chunk;
    if (cancelled_) break;
  }
  return true;
}

void TZABaseArchiver::ReadChunk(TZADecodeState& state, int64_t count) {
  // The first chunk of deflate data goes to the buffer all the same: the zlib header has to
  // precede it.
  const bool headerRoom = state.readSoFar == 0 && state.entry.ActualMethod == kMethodDeflate;
  if (state.memoryArchive != nullptr && !headerRoom) {
    TMemoryStream& archive = *state.memoryArchive;
    const int64_t position = archive.Position();
    if (position <= archive.Size() && count <= archive.Size() - position) {
      state.chunk = archive.Memory() + position;
      archive.Seek(count, TSeekOrigin::soCurrent);
      return;
    }
  }
  state.chunk = state.input.get() + kZlibHeaderSize;
  state.archive.ReadBuffer(state.chunk, count);
}

bool TZABaseArchiver::ProgressPair(TZADecodeState& state) {
  if (!progressEnabled_) return true;
  const auto operation = static_cast<TZAProcessOperation>(state.entry.OperationCode);
  const double fileShare =
      static_cast<double>(fileBytesDone_) / static_cast<double>(fileBytesTotal_);
  NotifyFileProgress(state.entry.Name, operation, fileShare * 100, ppProcess, cancelled_);
  if (cancelled_) return false;
  NotifyOverallProgress(operation, ppProcess, (fileShare + filesDone_) / filesToProcess_ * 100,
                        cancelled_);
  return !cancelled_;
}

bool TZABaseArchiver::ProcessChunk(TZADecodeState& state, int64_t count) {
  uint8_t* data = state.chunk;
  if (state.encrypted) {
    if (state.aes) {
      state.aes->DecryptInPlace(data, static_cast<size_t>(count));
    } else {
      state.pkware->Decrypt(data, static_cast<size_t>(count));
    }
  }

  // Hands decoded bytes to the output; false when decoding has to stop. Bytes beyond the declared
  // size are never written: such an entry cannot pass the size check, and an archive must not be
  // able to make the output grow without bound.
  bool overrun = false;
  auto emit = [&](const uint8_t* bytes, int64_t n) {
    if (n > state.declaredSize - state.emitted) {
      const int64_t room = state.declaredSize - state.emitted;
      if (room > 0) WriteOutput(state.output, bytes, room);
      overrun = true;
      return false;
    }
    if (!WriteOutput(state.output, bytes, n)) return false;
    state.emitted += n;
    return true;
  };

  if (state.entry.ActualMethod == kMethodStored) {
    for (int64_t done = 0; done < count;) {
      const int64_t piece = std::min(kStoredPieceSize, count - done);
      const uint8_t* bytes = data + done;
      state.produced += piece;
      state.crc = Crc32Update(state.crc, bytes, static_cast<size_t>(piece));
      done += piece;
      fileBytesDone_ = state.readSoFar + done;
      if (!ProgressPair(state)) return true;
      if (!emit(bytes, piece)) return !overrun;
    }
    return true;
  }

  z_stream& z = state.inflater->z();
  if (state.readSoFar == 0) {
    std::copy(kZlibHeader, kZlibHeader + kZlibHeaderSize, state.input.get());
    z.next_in = state.input.get();
    z.avail_in = static_cast<uInt>(count + kZlibHeaderSize);
  } else {
    z.next_in = data;
    z.avail_in = static_cast<uInt>(count);
  }
  const uint8_t* const chunkStart = z.next_in;
  const uint64_t outBefore = z.total_out;
  for (;;) {
    fileBytesDone_ = static_cast<int64_t>(z.total_out);
    if (!ProgressPair(state)) break;
    // While a whole buffer's worth still fits under the declared size, inflate writes straight
    // into an in-memory output: the same bytes land in the same place, without the copy.
    const bool direct =
        state.memoryOutput != nullptr && state.declaredSize - state.emitted >= kDecodeBufferSize;
    uint8_t* const target =
        direct ? state.memoryOutput->WriteSpace(kDecodeBufferSize) : state.inflated.get();
    z.next_out = target;
    z.avail_out = static_cast<uInt>(kDecodeBufferSize);
    int rc = inflate(&z, Z_NO_FLUSH);
    const int64_t have = kDecodeBufferSize - z.avail_out;
    if (rc == Z_STREAM_END && state.memoryOutput != nullptr &&
        !TrailerMatches(state, chunkStart, target, have)) {
      rc = Z_DATA_ERROR;
    }
    if (rc < 0) {
      // Running out of input is how every entry ends: the zlib trailer is never there.
      if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
      return false;
    }
    if (have > 0) {
      if (direct) {
        state.memoryOutput->CommitWrite(have);
        state.emitted += have;
      } else if (!emit(target, have)) {
        if (overrun) return false;
        break;
      }
      state.crc = Crc32Update(state.crc, target, static_cast<size_t>(have));
    }
    if ((z.avail_out > 0 && z.avail_in == 0) || rc == Z_STREAM_END) break;
  }
  state.produced += static_cast<int64_t>(z.total_out - outBefore);
  if (count >= 4) std::copy(data + count - 4, data + count, state.previousTail);
  return true;
}

// With the check left out of inflate, a stream end means four bytes followed the deflate data
// and were taken as the Adler-32 trailer; inflate would have compared them with the Adler-32 of
// the whole output. The output so far lies in the memory stream from where the entry began, the
// newest piece in target.
bool TZABaseArchiver::TrailerMatches(TZADecodeState& state, const uint8_t* chunkStart,
                                     const uint8_t* target, int64_t have) {
  z_stream& z = state.inflater->z();
  uint8_t trailer[4];
  const auto fromChunk = static_cast<int64_t>(std::min<ptrdiff_t>(z.next_in - chunkStart, 4));
  const int64_t fromPrevious = 4 - fromChunk;
  std::copy(state.previousTail + 4 - fromPrevious, state.previousTail + 4, trailer);
  std::copy(z.next_in - fromChunk, z.next_in, trailer + fromPrevious);
  const uint32_t expected = uint32_t{trailer[0]} << 24 | uint32_t{trailer[1]} << 16 |
                            uint32_t{trailer[2]} << 8 | uint32_t{trailer[3]};
  uLong adler = adler32(0L, Z_NULL, 0);
  adler = adler32_z(adler, state.memoryOutput->Memory() + state.outputStart,
                    static_cast<size_t>(state.emitted));
  adler = adler32_z(adler, target, static_cast<size_t>(have));
  return adler == expected;
}

bool TZABaseArchiver::WriteOutput(TStream& output, const uint8_t* buffer, int64_t count) {
  const int64_t position = output.Position();
  while (output.Write(buffer, count) != count) {
    bool cancel = false;
    NotifyDiskFull(-1, fileName_, cancel);
    if (cancel) {
      cancelled_ = true;
      return false;
    }
    // Each attempt writes the whole block again from where it started.
    output.SetPosition(position);
  }
  return true;
}

}  // namespace lumen
