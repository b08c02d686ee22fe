// Fuzz target for entry-name decoding: the UTF-8 classification against an independent validator
// that works on code points, the decoded text against an independent decoder, and the OEM rule's
// length and zero-byte behaviour.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/entry_names.h"

namespace {

using namespace lumen;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "entry-name decoding: %s\n", what);
    std::abort();
  }
}

// Code points of well-formed UTF-8, with encoded surrogates let through as the reader does, or
// nothing when the bytes are not that. Written from the code-point rules (shortest form, at most
// U+10FFFF) rather than from a table of byte ranges, so the two cannot share a mistake.
std::optional<std::vector<char32_t>> DecodeCodePoints(std::string_view bytes) {
  std::vector<char32_t> out;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    size_t length = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      length = 1;
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      cp = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (bytes.size() - i < length) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[length] || cp > 0x10FFFF) return std::nullopt;
    out.push_back(cp);
    i += length;
  }
  return out;
}

std::u16string ToUtf16(const std::vector<char32_t>& codePoints) {
  std::u16string out;
  for (char32_t cp : codePoints) {
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += u'\uFFFD';  // a surrogate on its own is no character
    } else if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

bool AllAscii(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// ASCII bytes keep their value whatever the single-byte code page; other bytes give one unit each.
void CheckSingleByteDecoding(std::string_view bytes, const std::u16string& text) {
  Check(text.size() == bytes.size(), "a single-byte decoding changed the length");
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) Check(text[i] == b, "an ASCII byte changed in a single-byte decoding");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first two bytes are the entry's flags; the rest is the stored name.
  if (size < 2) return 0;
  const uint16_t flags = static_cast<uint16_t>(data[0] | (data[1] << 8));
  const std::string_view name(reinterpret_cast<const char*>(data) + 2, size - 2);

  const int cls = ClassifyUtf8(name);
  const auto codePoints = DecodeCodePoints(name);
  const int expected = AllAscii(name) ? kUtf8Ascii : codePoints ? kUtf8Valid : kUtf8Malformed;
  Check(cls == expected, "the UTF-8 class differs from the code-point validator");

  const std::u16string decoded = DecodeEntryName(name);
  if (cls == kUtf8Valid) {
    Check(decoded == ToUtf16(*codePoints), "UTF-8 decoding differs from the reference decoder");
  } else {
    CheckSingleByteDecoding(name, decoded);
  }

  for (const bool oem : {false, true}) {
    const std::string converted = ApplyOemRule(name, flags, oem);
    Check(converted.size() == name.size(), "the OEM rule changed the length");
    const bool converts = oem && (flags & 0x0800) == 0;
    const size_t zero = name.find('\0');
    if (!converts) {
      Check(converted == name, "the OEM rule changed bytes it must leave alone");
    } else if (zero != std::string_view::npos) {
      Check(std::string_view(converted).substr(zero) == name.substr(zero),
            "the OEM rule changed bytes from the first zero byte on");
    }
    Check(DecodeCentralName(name, flags, oem) == DecodeEntryName(converted),
          "a central name is not the OEM rule followed by the decoding");
    const std::u16string local = DecodeLocalName(name, flags, oem);
    CheckSingleByteDecoding(std::string_view(converted).substr(0, converted.find('\0')), local);
  }
  return 0;
}
