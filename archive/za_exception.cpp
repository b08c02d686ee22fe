// Message table, native-code map and message composition of the archiver's exception.
#include "archive/za_exception.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/codepage.h"
#include "platform/component.h"

namespace lumen {

namespace {

// Indexed by error code. The texts are part of the archiver's interface and are kept exactly
// as they have always read, spelling included.
constexpr std::array<std::string_view, 41> kMessages = {
    "Unknown error",
    "Index out of bounds",
    "Invalid compression mode. Mode must be in [0-9] range",
    "Unexpected nil pointer",
    "Invalid size or check sum of file or unsupported compression format",
    "File name is blank. Specify appropriate file name",
    "File \"%s\" not found",
    "Archive is not open",
    "SFXStub property is not specified",
    "Cannot create file \"%s\"",
    "Cannot create directory \"%s\"",
    "Internal error. Update is not started",
    "Cannot open file \"%s\"",
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    "Cannot delete file \"%s\"",
    "In-memory archive can be created only",
    "File is open in read-only mode",
    "Invalid compressed size, rfs.size = %d, count = %d",
    "Invalid archive file.",
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    "Archive is open. You should close it beore performing this operation.",
    "Unable to create directory",
    "Cannot find 64-bit directory end record",
    "Cannot compress file '%s'. Zip64 mode is not enabled",
    "Cannot open archive file. Opening aborted or invalid file",
    "Write to stream error",
    "Cannot place SFX stub on volume. Volume size limit is too small",
    "Archive is damaged. Open failed",
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive "
    "creation instead of MakeSFX",
    "Archive already has SFX stub",
    "Multi-volume archive is not allowed for custom stream",
    "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to "
    "add files several times",
    "Deflate64 compression method is not supported",
    "MakeSFX error",
    "Hashed list of file names is invalid",
    "Cannot delete folder \"%s\"",
    "File name is too long: \r\n\"%s\"",
    "Multiple transactions are not supported for multi-volume archives",
    "Invalid InitVector index = %d. Index should be >= 0 and < %d",
    "Disk is full. There is not enough free space on disk.",
    "Invalid password. Cannot decompress encrypted file.",
};

struct CodePair {
  int32_t native;
  int32_t error;
};

// (native code, error code), ascending by native code, each native code once.
constexpr std::array<CodePair, 68> kCodeMap = {{
    {0, 0},   {1, 1},   {2, 1},   {3, 1},   {4, 1},   {5, 2},   {6, 3},   {7, 1},   {8, 4},
    {9, 5},   {10, 5},  {11, 6},  {12, 6},  {13, 7},  {14, 7},  {15, 6},  {16, 1},  {17, 8},
    {18, 6},  {19, 9},  {20, 10}, {21, 1},  {22, 11}, {23, 9},  {24, 1},  {25, 11}, {26, 13},
    {27, 14}, {28, 15}, {29, 5},  {30, 6},  {31, 6},  {32, 16}, {33, 12}, {34, 17}, {35, 18},
    {36, 19}, {37, 20}, {38, 6},  {39, 21}, {40, 22}, {41, 23}, {42, 6},  {43, 23}, {44, 24},
    {45, 24}, {46, 25}, {47, 26}, {48, 27}, {49, 28}, {50, 29}, {51, 30}, {52, 31}, {53, 6},
    {54, 6},  {55, 32}, {56, 33}, {57, 27}, {58, 34}, {59, 34}, {60, 35}, {61, 36}, {62, 37},
    {63, 38}, {64, 38}, {65, 39}, {66, 39}, {67, 40},
}};

std::string ComposeMessage(int32_t nativeError, int32_t errorCode,
                           const std::vector<FormatArg>* args, const TComponent* archiver) {
  std::string text(kMessages[static_cast<size_t>(errorCode)]);
  if (args != nullptr) text = FormatMessageText(text, *args);
  if (archiver != nullptr && !archiver->Name().empty()) {
    text = FormatMessageText("%s: %s", {archiver->Name(), text});
  }
  // The code is shown zero-padded to five places, so that messages line up in a log.
  char code[16];
  std::snprintf(code, sizeof code, "%5d", static_cast<int>(nativeError));
  for (char* p = code; *p != '\0'; ++p) {
    if (*p == ' ') *p = '0';
  }
  text += " - Native error: ";
  text += code;
  return text;
}

}  // namespace

FormatArg::FormatArg(const std::u16string& wide) : value_(WideToAnsi(wide)) {}
FormatArg::FormatArg(const char16_t* wide) : value_(WideToAnsi(wide)) {}

std::string FormatMessageText(std::string_view text, const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(text.size());
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '%' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const char kind = text[i + 1];
    if (kind == '%') {
      out += '%';
      ++i;
    } else if ((kind == 's' || kind == 'd') && next < args.size()) {
      const auto& value = args[next++].Value();
      if (const auto* s = std::get_if<std::string>(&value)) {
        out += *s;
      } else {
        out += std::to_string(std::get<int64_t>(value));
      }
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

EZAException::EZAException(int32_t nativeError, const TComponent* archiver)
    : EZAException(nativeError, nullptr, archiver) {}

EZAException::EZAException(int32_t nativeError, std::vector<FormatArg> args,
                           const TComponent* archiver)
    : EZAException(nativeError, &args, archiver) {}

EZAException::EZAException(int32_t nativeError, const std::vector<FormatArg>* args,
                           const TComponent* archiver)
    : Exception(std::string()), errorCode_(ErrorCodeOf(nativeError)), nativeError_(nativeError) {
  SetMessage(ComposeMessage(nativeError_, errorCode_, args, archiver));
}

int32_t EZAException::ErrorCodeOf(int32_t nativeError) noexcept {
  for (const CodePair& pair : kCodeMap) {
    if (pair.native == nativeError) return pair.error;
  }
  return 0;
}

std::string_view EZAException::MessageText(int32_t errorCode) noexcept {
  if (errorCode < 0 || errorCode >= static_cast<int32_t>(kMessages.size())) return {};
  return kMessages[static_cast<size_t>(errorCode)];
}

}  // namespace lumen
