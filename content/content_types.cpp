// The extension table of served content types.
#include "content/content_types.h"

#include <map>

#include "text/text.h"
#include "text/url.h"

namespace {

using ContentTypeTable = std::map<std::string, std::string>;

// Built on first use by the server thread; never changed afterwards.
const ContentTypeTable& ContentTypes() {
  static const ContentTypeTable table = {
      {"avi", "video/avi"},
      {"mp4", "video/mp4"},
      {"wmv", "video/x-ms-wmv"},
      {"swf", "application/x-shockwave-flash"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"bmp", "image/x-ms-bmp"},
      {"png", "image/png"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"rtf", "application/msword"},
      {"docx", "application/msword"},
      {"doc", "application/msword"},
      {"dot", "application/msword"},
      {"pptx", "application/vnd.ms-powerpoint"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"pot", "application/vnd.ms-powerpoint"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"xls", "application/vnd.ms-excel"},
      {"pdf", "application/pdf"},
      {"txt", "text/plain"},
      {"wav", "audio/x-wav"},
      {"mp3", "audio/x-mp3"},
      {"gsm", "audio/x-gsm"},
      {"js", "application/javascript"},
      {"css", "text/css"},
      {"xml", "text/xml"},
      {"xliff", "text/xml"},
      {"xlf", "text/xml"},
      {"kxv", kNavigationContentType},
      // What today's sites carry. Browsers insist on some of these: a module script must come
      // as JavaScript, WebAssembly.instantiateStreaming wants application/wasm, and an SVG
      // image served as text/plain does not show.
      {"mjs", "application/javascript"},
      {"json", "application/json"},
      {"map", "application/json"},
      {"webmanifest", "application/manifest+json"},
      {"wasm", "application/wasm"},
      {"svg", "image/svg+xml"},
      {"webp", "image/webp"},
      {"avif", "image/avif"},
      {"ico", "image/x-icon"},
      {"webm", "video/webm"},
      {"ogv", "video/ogg"},
      {"m4a", "audio/mp4"},
      {"ogg", "audio/ogg"},
      {"oga", "audio/ogg"},
      {"opus", "audio/ogg"},
      {"flac", "audio/flac"},
      {"aac", "audio/aac"},
      {"woff2", "font/woff2"},
      {"woff", "font/woff"},
      {"ttf", "font/ttf"},
      {"otf", "font/otf"},
      {"vtt", "text/vtt"},
      {"csv", "text/csv"},
      {"md", "text/markdown"},
      {"epub", "application/epub+zip"},
  };
  return table;
}

}  // namespace

bool FindContentType(const std::wstring& entryName, std::string* type) {
  std::size_t separator = entryName.rfind(L'/');
  if (separator == std::wstring::npos) separator = entryName.rfind(L'\\');
  const std::size_t dot = entryName.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  if (separator != std::wstring::npos && dot < separator) return false;
  std::wstring extension = entryName.substr(dot + 1);
  LowerAscii(extension);
  const ContentTypeTable& table = ContentTypes();
  const auto found = table.find(WideToAnsi(extension));
  if (found == table.end()) return false;
  *type = found->second;
  return true;
}
