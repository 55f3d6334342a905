// The portable steps of the run's URLs.
#include "launcher/run/session.h"

#include <memory>
#include <string_view>

#include "text/text.h"

namespace {

// The code points of a wide string: UTF-16 pairs joined (Windows), a lone surrogate U+FFFD.
std::vector<char32_t> CodePoints(const std::wstring& text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]) & 0x1FFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      c = 0xFFFD;
    }
    points.push_back(c);
  }
  return points;
}

// Appends `c` to `url`, as it is when `keep` says so, else as the %XX of its UTF-8 bytes.
template <class Keep>
void AppendEncoded(std::wstring& url, const std::wstring& text, Keep keep) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char32_t c : CodePoints(text)) {
    if (c < 0x80 && keep(static_cast<char>(c))) {
      url += static_cast<wchar_t>(c);
      continue;
    }
    unsigned char bytes[4];
    int n = 0;
    if (c < 0x80) {
      bytes[n++] = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      bytes[n++] = static_cast<unsigned char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      bytes[n++] = static_cast<unsigned char>(0xE0 | (c >> 12));
      bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      bytes[n++] = static_cast<unsigned char>(0xF0 | (c >> 18));
      bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    }
    if (c >= 0x80) bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    for (int i = 0; i < n; ++i) {
      url += L'%';
      url += static_cast<wchar_t>(kHex[bytes[i] >> 4]);
      url += static_cast<wchar_t>(kHex[bytes[i] & 0xF]);
    }
  }
}

}  // namespace

void AppendQueryArguments(std::wstring& startUrl, const std::vector<std::wstring>& args,
                          std::size_t first) {
  for (std::size_t i = first; i < args.size(); ++i) {
    startUrl += i == first ? L'?' : L'&';
    AppendEncoded(startUrl, args[i], [](char c) {
      return c > ' ' && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '#';
    });
  }
}

void AppendStartParameter(std::wstring& startUrl, const std::wstring& text) {
  startUrl += startUrl.find(L'?') == std::wstring::npos ? L"?show=" : L"&show=";
  AppendEncoded(startUrl, text, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-_.!~*'()").find(c) != std::string_view::npos;
  });
}

bool ReadStartText(amzip::ZipArchive& archive, std::wstring& text) {
  static const std::wstring kStartEntry = L".start";
  text.clear();
  const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(kStartEntry);
  if (!reader) return false;
  std::vector<unsigned char> bytes;
  unsigned char piece[16384];
  while (const std::size_t n = reader->Read(piece, sizeof piece)) bytes.insert(bytes.end(), piece, piece + n);
  const std::size_t size = bytes.size();
  // Zero-filled past the entry: an odd last byte becomes a final character of its own (its
  // high byte zero), and an unterminated text still ends.
  bytes.resize(size + 2, 0);
  text = Utf16LeToWide(bytes.data(), size + size % 2);
  return true;
}
