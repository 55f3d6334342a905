// Code-page conversions for Windows: WideCharToMultiByte and MultiByteToWideChar with flags 0,
// each in two calls (length, then conversion into a result of exactly that length).
#include <windows.h>

#include <climits>

#include "text/text.h"

namespace {

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), n);
  return out;
}

}  // namespace

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring AnsiToWide(const std::string& text) { return ToWide(CP_ACP, text); }

std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text); }

std::wstring OemToWide(const std::string& text) { return ToWide(GetOEMCP(), text); }

std::wstring Utf16LeToWide(const void* bytes, std::size_t byteCount) {
  // wchar_t is a little-endian UTF-16 unit here: the bytes are taken as they stand.
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  std::wstring out;
  for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(p[i] | (p[i + 1] << 8));
    if (unit == 0) break;
    out += unit;
  }
  return out;
}
