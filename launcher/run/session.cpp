// The portable steps of the run's URLs.
#include "launcher/run/session.h"

#include <memory>

#include "text/text.h"

std::string FormatSessionPrefix(std::uint32_t tickCount) {
  return FormatText("%x/", static_cast<unsigned>(tickCount));
}

void AppendQueryArguments(std::wstring& startUrl, const std::vector<std::wstring>& args,
                          std::size_t first) {
  for (std::size_t i = first; i < args.size(); ++i) {
    startUrl += i == first ? L'?' : L'&';
    startUrl += args[i];
  }
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
