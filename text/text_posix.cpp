// Code-page conversions for POSIX: the "ANSI" code page is UTF-8, the OEM one CP437.
#include <cstdint>

#include "text/text.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Bytes that are no part of valid UTF-8 in a path, kept as U+DC80 to U+DCFF: no UTF-8 decodes
// to these (they are surrogates), so the way back is exact.
constexpr wchar_t kEscapedByte = 0xDC00;

// Decodes UTF-8, replacing each maximal ill-formed subsequence by one U+FFFD, as Windows'
// MultiByteToWideChar does; with `escapeBytes`, each byte of it by its escape instead.
std::wstring DecodeUtf8(const std::string& s, bool escapeBytes = false) {
  std::wstring out;
  out.reserve(s.size());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      out += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    int need;
    std::uint32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the next byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2, cp = lead & 0x0F;
      if (lead == 0xE0) lo = 0xA0;  // no overlong forms
      if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3, cp = lead & 0x07;
      if (lead == 0xF0) lo = 0x90;  // no overlong forms
      if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      out += escapeBytes ? static_cast<wchar_t>(kEscapedByte + lead) : kReplacement;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    int got = 0;
    for (; got < need && j < n; ++got, ++j) {
      const unsigned char c = static_cast<unsigned char>(s[j]);
      if (c < lo || c > hi) break;
      lo = 0x80, hi = 0xBF;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (got == need) {
      out += static_cast<wchar_t>(cp);
    } else if (escapeBytes) {
      for (; i < j; ++i) out += static_cast<wchar_t>(kEscapedByte + static_cast<unsigned char>(s[i]));
      continue;
    } else {
      out += kReplacement;
    }
    i = j;
  }
  return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
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

// CP437 bytes 0x80 to 0xFF; the lower half is ASCII.
const std::uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

}  // namespace

std::string WideToAnsi(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) AppendUtf8(out, static_cast<std::uint32_t>(c));
  return out;
}

std::wstring AnsiToWide(const std::string& text) { return DecodeUtf8(text); }

std::wstring Utf8ToWide(const std::string& text) { return DecodeUtf8(text); }

std::wstring PathToWide(const std::string& path) { return DecodeUtf8(path, true); }

std::string WideToPath(const std::wstring& path) {
  std::string out;
  out.reserve(path.size());
  for (wchar_t c : path) {
    if (c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xFF) {
      out += static_cast<char>(c - kEscapedByte);
    } else {
      AppendUtf8(out, static_cast<std::uint32_t>(c));
    }
  }
  return out;
}

std::wstring OemToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char b = static_cast<unsigned char>(ch);
    out += static_cast<wchar_t>(b < 0x80 ? b : kCp437High[b - 0x80]);
  }
  return out;
}

std::wstring Utf16LeToWide(const void* bytes, std::size_t byteCount) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  const std::size_t units = byteCount / 2;
  std::wstring out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    out += (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : static_cast<wchar_t>(u);
  }
  return out;
}
