// Wide text as UTF-16 code units, whatever the width of wchar_t (UTF-16 on Windows, UTF-32
// elsewhere): the .start entry and the strings of Windows resources are UTF-16.
#pragma once

#include <string>

namespace orvanezip {

inline std::u16string ToUtf16(const std::wstring& text) {
  std::u16string units;
  for (wchar_t c : text) {
    const std::uint32_t code = static_cast<std::uint32_t>(c);
    if (code > 0xFFFF) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
  }
  return units;
}

}  // namespace orvanezip
