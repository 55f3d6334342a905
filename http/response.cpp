// The answers to GET and HEAD for one archive entry: status line, headers and (GET) body in one
// buffer, or a status-only 404 or 500.
#include <charconv>
#include <cstring>
#include <mutex>
#include <new>

#include "http/connection.h"
#include "http/content_types.h"
#include "http/http_date.h"
#include "http/navigation.h"
#include "launcher/session.h"
#include "text/filetime.h"
#include "text/text.h"

namespace {

// The decimal digits of `n`, as FormatText("%lu") writes them.
void AppendDecimal(std::string& text, std::uint64_t n) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, n);
  text.append(digits, end.ptr);
}

// The header block of a GET answer, built in one string.
std::string GetHeader(const std::string& type, std::size_t length, const std::string& expiresLine) {
  std::string header;
  header.reserve(128 + type.size());
  header += "HTTP/1.1 200 OK\r\nContent-Type: ";
  header += type;
  header += "\r\nContent-Length: ";
  AppendDecimal(header, length);
  header += "\r\nCache-Control: max-age=5\r\n";
  header += expiresLine;
  header += "\r\n";
  return header;
}

// A value for the last byte of a body buffer before extraction (see ExtractWhole).
constexpr char kUnwritten = static_cast<char>(0xA5);

// Extracts the entry into `body`, `size` bytes, so that every byte of it is the entry's or 0:
// an entry whose data ends early (a damaged archive) must not send what the heap held before.
// Extract writes the entry's bytes from the start of the buffer onward, in order (whole blocks,
// then the last part), so a last byte that has changed shows that every byte was written. Only when it has not (the entry ended early, or
// its last byte is the marker's value) is the buffer cleared and the entry extracted again;
// clearing every buffer beforehand would cost a pass over each body.
bool ExtractWhole(const std::wstring& entryName, char* body, std::uint32_t size) {
  if (size == 0) return TheArchive.Extract(entryName, body, &size);  // nothing to write
  body[size - 1] = kUnwritten;
  std::uint32_t count = size;
  if (!TheArchive.Extract(entryName, body, &count)) return false;
  if (body[size - 1] != kUnwritten) return true;
  std::memset(body, 0, size);
  count = size;
  return TheArchive.Extract(entryName, body, &count);
}

}  // namespace

void ClientConnection::HandleHead(const std::wstring& entryName) {
  std::uint32_t size = 0;
  // Stays at a value that is no valid time when the entry has no MS-DOS stamp.
  FileTime modified = ~static_cast<FileTime>(0);
  {
    std::lock_guard<std::mutex> reading(TheArchiveMutex);
    try {
      if (!TheArchive.GetEntryInfo(entryName, &size, &modified)) {
        DebugLog("HEAD %S -> 404\n\n", entryName.c_str());
        SendStatus("404 Not Found");
        return;
      }
    } catch (...) {
      DebugLog("HEAD %S -> 500 (unzip error)\n\n", entryName.c_str());
      SendStatus("500 Internal Server Error");
      return;
    }
  }
  std::string type;
  FindContentType(entryName, &type);  // HEAD never sniffs: an unknown extension sends ""
  DebugLog("Content-Type: %s\n", type.c_str());

  std::string header = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: ";
  AppendDecimal(header, size);
  header += "\r\n";
  // An entry without a stamp has no modification time to tell: the line is left out.
  const std::string lastModified = HttpDateOf(modified);
  if (!lastModified.empty()) header += "Last-Modified: " + lastModified + "\r\n";
  header += "Cache-Control: max-age=86400\r\n";
  header += server_.Expires().At(CurrentFileTime());
  header += "\r\n";
  DebugLog("HEAD %S\n%s", entryName.c_str(), header.c_str());
  QueueResponse(header);
}

void ClientConnection::HandleGet(const std::wstring& entryName) {
  std::uint32_t size = 0;
  std::unique_ptr<char[]> buffer;  // kHeaderRoom bytes, then the entry's bytes
  {
    std::lock_guard<std::mutex> reading(TheArchiveMutex);
    try {
      if (!TheArchive.Extract(entryName, nullptr, &size)) {
        DebugLog("GET %S -> 404\n\n", entryName.c_str());
        SendStatus("404 Not Found");
        return;
      }
      // An entry too large for memory is answered 500 like any other failure to extract it.
      const std::size_t capacity = static_cast<std::size_t>(size) + kHeaderRoom;
      if (capacity < kHeaderRoom) throw std::bad_alloc();  // wrapped around: 32-bit size_t
      buffer.reset(new char[capacity]);  // not cleared: see ExtractWhole
      if (!ExtractWhole(entryName, buffer.get() + kHeaderRoom, size)) {
        DebugLog("GET %S -> 500 (extract error)\n\n", entryName.c_str());
        SendStatus("500 Internal Server Error");
        return;
      }
    } catch (...) {
      buffer.reset();
      DebugLog("GET %S -> 500 (extract error)\n\n", entryName.c_str());
      SendStatus("500 Internal Server Error");
      return;
    }
  }
  char* body = buffer.get() + kHeaderRoom;
  std::string type;
  if (!FindContentType(entryName, &type)) type = SniffContentType(body, size);
  DebugLog("Content-Type: %s\n", type.c_str());

  if (type == kNavigationContentType) {
    // Navigation files are small and change length when rewritten: they are sent from a copy.
    std::string text(body, size);
    buffer.reset();
    FixNavigationFile(text);
    const std::string header = GetHeader(type, text.size(), server_.Expires().At(CurrentFileTime()));
    DebugLog("GET %S\n%s", entryName.c_str(), header.c_str());
    QueueResponse(header + text);
    return;
  }

  const std::string header = GetHeader(type, size, server_.Expires().At(CurrentFileTime()));
  DebugLog("GET %S\n%s", entryName.c_str(), header.c_str());
  if (header.size() <= kHeaderRoom) {
    // The header goes directly in front of the body, so the entry is never copied.
    const std::size_t start = kHeaderRoom - header.size();
    std::memcpy(buffer.get() + start, header.data(), header.size());
    QueueResponse(std::move(buffer), start, header.size() + size);
    return;
  }
  const std::size_t total = header.size() + size;
  if (total < header.size()) throw std::bad_alloc();  // wrapped around: 32-bit size_t
  std::unique_ptr<char[]> whole(new char[total]);
  std::memcpy(whole.get(), header.data(), header.size());
  std::memcpy(whole.get() + header.size(), body, size);
  buffer.reset();
  QueueResponse(std::move(whole), 0, total);
}
