// Text conversions between the system's 8-bit code pages, UTF-8 and UTF-16, and per-unit case
// mapping. This port behaves as a Russian Windows system: ANSI is Windows-1251, OEM is CP866.
// Bytes without a mapping become U+FFFD when decoding; characters without one become '?' when
// encoding. UTF-16 texts are std::u16string; 8-bit texts are std::string holding raw bytes.
#pragma once

#include <string>
#include <string_view>

namespace lumen {

std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);

// OEM bytes to ANSI bytes, as the system's OEM-to-character conversion does.
std::string OemToAnsi(std::string_view oem);
std::u16string OemToWide(std::string_view oem);

// Malformed UTF-8 decodes to U+FFFD per bad sequence; four-byte sequences become surrogate pairs.
std::u16string Utf8ToWide(std::string_view utf8);
// Unpaired surrogates encode as U+FFFD.
std::string WideToUtf8(std::u16string_view wide);

std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// One UTF-16 unit mapped through the C library's Unicode tables; surrogates map to themselves.
char16_t LowerChar(char16_t c);
char16_t UpperChar(char16_t c);

}  // namespace lumen
