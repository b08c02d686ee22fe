// Turning the stored bytes of an entry name into UTF-16: the UTF-8 test, the choice between UTF-8
// and the ANSI code page, and the OEM conversion that applies to names without the UTF-8 flag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumen {

enum TUtf8Class : int {
  kUtf8Ascii = 0,      // empty, or only bytes below 0x80
  kUtf8Valid = 1,      // well-formed UTF-8 with at least one byte of 0x80 or more
  kUtf8Malformed = 2,  // anything else
};

int ClassifyUtf8(std::string_view bytes);

// Well-formed UTF-8 with non-ASCII bytes is decoded as UTF-8; everything else is taken as ANSI.
std::u16string DecodeEntryName(std::string_view bytes);

// The stored name bytes as they go to DecodeEntryName: converted from the OEM code page to ANSI
// when OEM names are on and the entry's UTF-8 flag (bit 11) is clear, unchanged otherwise. The
// conversion stops at the first zero byte and leaves the bytes from there on as they are.
std::string ApplyOemRule(std::string_view stored, uint16_t flags, bool oemFileNames);

// The name of a central directory entry: the OEM rule, then DecodeEntryName.
std::u16string DecodeCentralName(std::string_view stored, uint16_t flags, bool oemFileNames);

// The name of an entry rebuilt from its local header: the OEM rule when it is allowed, then the
// bytes before the first zero byte from the ANSI code page, with no UTF-8 detection.
std::u16string DecodeLocalName(std::string_view stored, uint16_t flags, bool oemFileNames);

}  // namespace lumen
