// Code-page tables are built once from iconv, so each conversion is a table lookup per byte.
#include "platform/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <array>
#include <stdexcept>
#include <unordered_map>

namespace lumen {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr const char* kAnsiCodePage = "CP1251";
constexpr const char* kOemCodePage = "CP866";

struct SingleByteTable {
  std::array<char16_t, 256> toWide{};
  std::unordered_map<char16_t, char> fromWide;
};

SingleByteTable BuildTable(const char* codePage) {
  SingleByteTable table;
  iconv_t cd = iconv_open("UTF-16LE", codePage);
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error("iconv cannot convert from code page");
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[4] = {};
    char* inPtr = &in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    char16_t unit = kReplacement;
    if (rc != static_cast<size_t>(-1) && sizeof out - outLeft == 2) {
      unit = static_cast<char16_t>(out[0] | (out[1] << 8));
    }
    table.toWide[b] = unit;
    if (unit != kReplacement) table.fromWide.emplace(unit, static_cast<char>(b));
  }
  iconv_close(cd);
  return table;
}

const SingleByteTable& Ansi() {
  static const SingleByteTable table = BuildTable(kAnsiCodePage);
  return table;
}

const SingleByteTable& Oem() {
  static const SingleByteTable table = BuildTable(kOemCodePage);
  return table;
}

std::u16string Decode(const SingleByteTable& table, std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    out[i] = table.toWide[static_cast<unsigned char>(bytes[i])];
  return out;
}

std::string Encode(const SingleByteTable& table, std::u16string_view wide) {
  std::string out(wide.size(), '?');
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c < 0x80) {
      out[i] = static_cast<char>(c);
    } else if (auto it = table.fromWide.find(c); it != table.fromWide.end()) {
      out[i] = it->second;
    }
  }
  return out;
}

locale_t Utf8Locale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0))
      l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0)) throw std::runtime_error("no UTF-8 locale for case mapping");
    return l;
  }();
  return locale;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string AnsiToWide(std::string_view ansi) {
  return Decode(Ansi(), ansi);
}
std::string WideToAnsi(std::u16string_view wide) {
  return Encode(Ansi(), wide);
}
std::u16string OemToWide(std::string_view oem) {
  return Decode(Oem(), oem);
}
std::string OemToAnsi(std::string_view oem) {
  return WideToAnsi(OemToWide(oem));
}

std::u16string Utf8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  const size_t n = utf8.size();
  auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[k]); };
  while (i < n) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
      min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
      min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
      min = 0x10000;
    }
    int k = 1;
    for (; len > 0 && k < len && i + k < n && (byte(i + k) & 0xC0) == 0x80; ++k)
      cp = (cp << 6) | (byte(i + k) & 0x3F);
    if (len == 0 || k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += kReplacement;
      i += (len == 0) ? 1 : static_cast<size_t>(k);
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      AppendUtf8(out,
                 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  return WideToUtf8(AnsiToWide(ansi));
}
std::string Utf8ToAnsi(std::string_view utf8) {
  return WideToAnsi(Utf8ToWide(utf8));
}

char16_t LowerChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const wint_t r = towlower_l(static_cast<wint_t>(c), Utf8Locale());
  return r <= 0xFFFF ? static_cast<char16_t>(r) : c;
}

char16_t UpperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const wint_t r = towupper_l(static_cast<wint_t>(c), Utf8Locale());
  return r <= 0xFFFF ? static_cast<char16_t>(r) : c;
}

}  // namespace lumen
