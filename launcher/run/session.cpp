// The portable steps of the run's URLs.
#include "launcher/run/session.h"

#include <memory>
#include <string_view>

#include "text/text.h"
#include "text/url.h"

namespace {

// Appends `text` to `url` as UTF-8, each character that `keep` refuses (and all beyond ASCII)
// percent-encoded.
template <class Keep>
void AppendEncoded(std::wstring& url, const std::wstring& text, Keep keep) {
  const std::string encoded = PercentEncode(WideToUtf8(text), keep);
  url.append(encoded.begin(), encoded.end());
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
