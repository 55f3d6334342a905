// Formatting and the diagnostic sink; the code-page conversions are in the platform files.
#include "text/text.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]) & 0x1FFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
    } else {
      if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
      } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      }
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string FormatText(const char* format, ...) {
  if (format == nullptr) return std::string();
  // 13 attempts: 256 bytes doubling up to 1 MiB. Output that fills the allowance of B - 1 bytes
  // exactly may have been cut, so it counts as not fitting, as it does for _vsnprintf.
  for (std::size_t size = 256; size <= 1048576; size *= 2) {
    std::unique_ptr<char[]> buffer(new char[size]);
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer.get(), size, format, args);
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= size - 1) continue;
    if (buffer[0] == '\0') return "(null)";
    return std::string(buffer.get());
  }
  return std::string();
}

#ifdef ORVANE_DEBUG_LOG
void DebugLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}
#endif
