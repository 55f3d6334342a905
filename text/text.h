// Conversions between the program's two string kinds, printf-style formatting, and the
// diagnostic sink. Narrow strings are bytes (ANSI code page, UTF-8 or ASCII by origin); wide
// strings are std::wstring (UTF-16 on Windows, UTF-32 on POSIX). No function here keeps state,
// so all may be called from any thread.
#pragma once

#include <cstddef>
#include <string>

#if defined(__clang__)
#define ORVANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define ORVANE_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define ORVANE_PRINTF(fmt, args)
#endif

// Each conversion works on the counted length (embedded zeros included). A source that is empty
// or that the platform refuses gives an empty result; unconvertible input is replaced in the
// platform's default way (Windows: its default character; POSIX: U+FFFD or "?"), never refused.

// Wide to the ANSI code page (POSIX: UTF-8).
std::string WideToAnsi(const std::wstring& text);
// ANSI code page (POSIX: UTF-8) to wide.
std::wstring AnsiToWide(const std::string& text);
// UTF-8 to wide; invalid sequences become U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
// Wide to UTF-8, the same on every platform: UTF-16 pairs joined (Windows), a lone surrogate or
// a value past U+10FFFF written as U+FFFD.
std::string WideToUtf8(const std::wstring& text);
// The OEM code page (POSIX: CP437, the zip format's default) to wide: names of zip entries
// stored without the UTF-8 flag.
std::wstring OemToWide(const std::string& text);
// UTF-16LE bytes to wide, up to the first zero unit or the end; an odd last byte is ignored.
// On POSIX surrogate pairs are joined and a lone surrogate becomes U+FFFD.
std::wstring Utf16LeToWide(const void* bytes, std::size_t byteCount);

// POSIX only: file paths, which must reach the file system byte for byte. UTF-8 is decoded as by
// AnsiToWide, except that each byte of an ill-formed sequence becomes U+DC80 to U+DCFF (its
// value + 0xDC00) and turns back into that byte; so WideToPath(PathToWide(p)) == p for any p.
std::wstring PathToWide(const std::string& path);
std::string WideToPath(const std::wstring& path);

// printf-style formatting into a new string. Starts with a 256-byte buffer and doubles it while
// the output does not fit, up to 1 MiB: output of 1048575 bytes or more gives "". A null format
// gives "". An empty output (or one whose first byte is zero) comes back as "(null)".
// "%S" takes a wide string, "%s" a narrow one.
std::string FormatText(const char* format, ...) ORVANE_PRINTF(1, 2);

// The diagnostic sink: discards its arguments. Building with ORVANE_DEBUG_LOG (never done for
// a shipped program) sends them to stderr instead, for development.
#ifdef ORVANE_DEBUG_LOG
void DebugLog(const char* format, ...) ORVANE_PRINTF(1, 2);
#else
inline void DebugLog(const char*, ...) {}
#endif
