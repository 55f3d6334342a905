// The run's process-wide values and the portable steps of the start URL.
#include "launcher/session.h"

#include "text/text.h"

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
  // Two zero bytes past the entry so that an odd or unterminated text still ends.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size) + 2, 0);
  if (!archive.Extract(kStartEntry, bytes.data(), &size)) return true;
  text = Utf16LeToWide(bytes.data(), size);
  return true;
}
