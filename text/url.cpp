#include "text/url.h"

#include <algorithm>
#include <cstdio>

std::string PercentDecode(std::string_view text) {
  std::size_t percent = text.find('%');
  if (percent == std::string::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (percent != std::string::npos) {
    out.append(text, pos, percent - pos);
    // Only the characters that exist are handed to sscanf, so a "%" at the end reads nothing.
    char digits[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 2 && percent + 1 + i < text.size(); ++i) digits[i] = text[percent + 1 + i];
    unsigned value = 0;
    if (std::sscanf(digits, "%02X", &value) == 1) out += static_cast<char>(value & 0xFF);
    pos = std::min(percent + 3, text.size());
    percent = text.find('%', pos);
  }
  out.append(text, pos, std::string::npos);
  return out;
}

std::wstring NormalizePath(const std::wstring& path) {
  std::wstring out;
  NormalizePathInto(path, &out);
  return out;
}

void NormalizePathInto(std::wstring_view rest, std::wstring* result) {
  for (const wchar_t* prefix : {L"file://", L"\\\\?\\", L".\\"}) {
    if (rest.starts_with(prefix)) rest.remove_prefix(std::wstring_view(prefix).size());
  }
  // Written through a pointer into storage of the input's length: the output is never longer.
  std::wstring& out = *result;
  out.resize(rest.size());
  wchar_t* const start = out.data();
  wchar_t* end = start;
  for (wchar_t c : rest) {
    if (c == L'/' || c == L'\\') {
      // Collapse runs, but let a leading pair stand (a UNC-style "\\server").
      if (end - start > 1 && end[-1] == L'\\') continue;
      c = L'\\';
    } else if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    *end++ = c;
  }
  while (end != start && end[-1] == L'\\') --end;  // no trailing separators
  out.resize(static_cast<std::size_t>(end - start));
}

void LowerAscii(std::wstring& text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
}

void TrimTrailingSeparators(std::wstring& path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
}

std::wstring FileExtension(const std::wstring& path) {
  std::size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos) return std::wstring();
  return path.substr(dot + 1);
}

void ReplaceExtension(std::wstring& path, const wchar_t* extension) {
  std::size_t dot = path.rfind(L'.');
  if (dot != std::wstring::npos) path.resize(dot + 1);
  if (extension == nullptr) return;
  if (*extension == L'.') ++extension;
  path += extension;
}
