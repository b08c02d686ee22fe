// Decoding one entry into the caller's stream: local header, optional decryption, stored copy or
// inflate, size and CRC-32 (or AES authentication) checks, progress and the disk-full protocol.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

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
  if (state.entry.ActualMethod == kMethodDeflate) {
    state.inflater.emplace();
    if (!state.inflater->Init()) return false;
    state.inflated = Buffer(kDecodeBufferSize);
  }
  // Growing an in-memory output step by step would copy it over and over; the declared size is
  // known, so room for it is made once.
  if (auto* memory = dynamic_cast<TMemoryStream*>(&state.output)) {
    const int64_t room = std::min(state.declaredSize, kMaxReserve);
    memory->Reserve(memory->Position() + room);
  }

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
  state.archive.ReadBuffer(state.input.get() + kZlibHeaderSize, count);
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
  uint8_t* data = state.input.get() + kZlibHeaderSize;
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
  const uint64_t outBefore = z.total_out;
  for (;;) {
    fileBytesDone_ = static_cast<int64_t>(z.total_out);
    if (!ProgressPair(state)) break;
    z.next_out = state.inflated.get();
    z.avail_out = static_cast<uInt>(kDecodeBufferSize);
    const int rc = inflate(&z, Z_NO_FLUSH);
    if (rc < 0) {
      // Running out of input is how every entry ends: the zlib trailer is never there.
      if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
      return false;
    }
    const int64_t have = kDecodeBufferSize - z.avail_out;
    if (have > 0) {
      if (!emit(state.inflated.get(), have)) {
        if (overrun) return false;
        break;
      }
      state.crc = Crc32Update(state.crc, state.inflated.get(), static_cast<size_t>(have));
    }
    if ((z.avail_out > 0 && z.avail_in == 0) || rc == Z_STREAM_END) break;
  }
  state.produced += static_cast<int64_t>(z.total_out - outBefore);
  return true;
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
