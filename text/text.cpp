// Formatting and the diagnostic sink; the code-page conversions are in the platform files.
#include "text/text.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

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
