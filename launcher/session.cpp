// The run's process-wide values and the portable steps of the start URL.
#include "launcher/session.h"

#include "text/text.h"

// Defined together so that they are constructed in this order and destroyed in reverse.
amzip::ZipArchive TheArchive;
std::mutex TheArchiveMutex;
std::string SessionPrefix;
std::wstring SessionUrl;

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
  std::uint32_t size = 0;
  if (!archive.Extract(kStartEntry, nullptr, &size)) return false;
  // Zero-filled past the entry: an odd last byte becomes a final character of its own (its
  // high byte zero), and an unterminated text still ends.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size) + 2, 0);
  if (!archive.Extract(kStartEntry, bytes.data(), &size)) return true;
  text = Utf16LeToWide(bytes.data(), static_cast<std::size_t>(size) + size % 2);
  return true;
}
