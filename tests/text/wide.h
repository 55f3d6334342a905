// Test helper: a wide string from UTF-32 text, as the platform's std::wstring holds it
// (UTF-16 with surrogate pairs on Windows, one unit per character on POSIX).
#pragma once

#include <string>

inline std::wstring Wide(const std::u32string& text) {
  std::wstring out;
  for (char32_t c : text) {
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}
