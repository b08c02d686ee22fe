// The archiver's enumerations, shared by the component, its directory and its extraction.
// Values keep their order: forms and archives store them as numbers.
#pragma once

#include <cstdint>

namespace lumen {

enum TZACompressionLevel : uint8_t { clNone, clFastest, clNormal, clMax };
enum TZASpanningMode : uint8_t { smNone, smSpanning, smSplitting };
enum TZip64Mode : uint8_t { zmDisabled, zmAuto, zmAlways };
enum TZACryptoAlgorithm : uint8_t { caPkzipClassic, caAES_128, caAES_192, caAES_256 };
enum TZAProcessOperation : uint8_t {
  poAdd,
  poMove,
  poDelete,
  poUpdate,
  poExtract,
  poTest,
  poRename,
  poChangeAttr,
  poChangeComment,
  poMakeSFX,
  poMerge
};
enum TZAProgressPhase : uint8_t { ppStart, ppProcess, ppEnd };
enum TZAAction : uint8_t { fxaRetry, fxaIgnore, fxaAbort };
enum TZAVolumeSize : uint8_t {
  vsAutoDetect,
  vsCustom,
  vs1_44MB,
  vs100MB,
  vs200MB,
  vs250MB,
  vs600MB,
  vs650MB,
  vs700MB,
  vs4700MB
};
enum TZAStorePathMode : uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZAFileShareMode : uint8_t {
  smShareCompat,
  smShareExclusive,
  smShareDenyWrite,
  smShareDenyRead,
  smShareDenyNone
};
enum TZAOverwriteMode : uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };

}  // namespace lumen
