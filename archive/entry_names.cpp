// Entry-name decoding. The UTF-8 flag is unreliable in the wild (writers set it on OEM names and
// leave it off UTF-8 ones), so the bytes themselves decide between UTF-8 and ANSI; the flag only
// says that the bytes are not in the OEM code page.
#include "archive/entry_names.h"

#include "archive/zip_format.h"
#include "platform/codepage.h"

namespace lumen {

namespace {

bool InRange(unsigned char b, unsigned char lo, unsigned char hi) {
  return b >= lo && b <= hi;
}

// Length of the well-formed sequence at bytes[i], or 0 when there is none.
size_t SequenceLength(std::string_view bytes, size_t i) {
  const auto at = [&bytes](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char c = at(i);
  if (c < 0x80) return 1;
  size_t len = 0;
  unsigned char lo = 0x80;  // range of the second byte; the others are always 0x80 to 0xBF
  unsigned char hi = 0xBF;
  if (InRange(c, 0xC2, 0xDF)) {
    len = 2;
  } else if (c == 0xE0) {
    len = 3;
    lo = 0xA0;
  } else if (InRange(c, 0xE1, 0xEF)) {
    len = 3;  // 0xED included: encoded surrogates are let through
  } else if (c == 0xF0) {
    len = 4;
    lo = 0x90;
  } else if (InRange(c, 0xF1, 0xF3)) {
    len = 4;
  } else if (c == 0xF4) {
    len = 4;
    hi = 0x8F;
  } else {
    return 0;
  }
  if (len > bytes.size() - i) return 0;
  if (!InRange(at(i + 1), lo, hi)) return 0;
  for (size_t k = 2; k < len; ++k) {
    if (!InRange(at(i + k), 0x80, 0xBF)) return 0;
  }
  return len;
}

}  // namespace

int ClassifyUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i == bytes.size()) return kUtf8Ascii;
  while (i < bytes.size()) {
    const size_t len = SequenceLength(bytes, i);
    if (len == 0) return kUtf8Malformed;
    i += len;
  }
  return kUtf8Valid;
}

std::u16string DecodeEntryName(std::string_view bytes) {
  return ClassifyUtf8(bytes) == kUtf8Valid ? Utf8ToWide(bytes) : AnsiToWide(bytes);
}

std::string ApplyOemRule(std::string_view stored, uint16_t flags, bool oemFileNames) {
  if (!oemFileNames || (flags & kFlagUtf8Name) != 0) return std::string(stored);
  const size_t zero = stored.find('\0');
  const std::string_view head = stored.substr(0, zero);
  std::string out = OemToAnsi(head);
  if (zero != std::string_view::npos) out.append(stored.substr(zero));
  return out;
}

std::u16string DecodeCentralName(std::string_view stored, uint16_t flags, bool oemFileNames) {
  return DecodeEntryName(ApplyOemRule(stored, flags, oemFileNames));
}

std::u16string DecodeLocalName(std::string_view stored, uint16_t flags, bool oemFileNames) {
  const std::string ansi = ApplyOemRule(stored, flags, oemFileNames);
  return AnsiToWide(std::string_view(ansi).substr(0, ansi.find('\0')));
}

}  // namespace lumen
