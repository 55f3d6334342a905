// The answers to GET and HEAD for one archive entry: a head and a body that is sent from one
// buffer (small entries, navigation files), straight from the archive's bytes (stored entries
// already checked in this run, and byte ranges of stored entries) or read piece by piece
// through a checked reader (everything else); or a status-only 404, 416 or 500.
#include "content/archive_handler.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "content/content_types.h"
#include "content/navigation.h"
#include "content/range.h"
#include "http/server.h"
#include "text/filetime.h"
#include "text/text.h"

namespace {

// The decimal digits of `n`, as FormatText("%lu") writes them.
void AppendDecimal(std::string& text, std::uint64_t n) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, n);
  text.append(digits, end.ptr);
}

// The head of a GET answer: 200 for the whole entry, or 206 with the part's Content-Range.
std::string GetHeader(const std::string& type, std::uint64_t length, const std::string& expiresLine,
                      const ByteRange* part = nullptr, std::uint64_t size = 0) {
  std::string header;
  header.reserve(160 + type.size());
  header += part ? "HTTP/1.1 206 Partial Content\r\nContent-Type: " : "HTTP/1.1 200 OK\r\nContent-Type: ";
  header += type;
  if (part) {
    header += "\r\nContent-Range: bytes ";
    AppendDecimal(header, part->first);
    header += '-';
    AppendDecimal(header, part->last);
    header += '/';
    AppendDecimal(header, size);
  }
  header += "\r\nContent-Length: ";
  AppendDecimal(header, length);
  header += "\r\nCache-Control: max-age=5\r\n";
  header += expiresLine;
  header += "\r\n";
  return header;
}

// Navigation files are rewritten in memory; one larger than this is refused (500) rather than
// read into memory.
constexpr std::uint64_t kNavigationLimit = 16u * 1024 * 1024;

// Fills `buffer` with `count` bytes from `reader`; throws when the entry ends first.
void ReadExactly(amzip::EntryReader& reader, char* buffer, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const std::size_t n = reader.Read(buffer + got, count - got);
    if (n == 0) throw std::runtime_error("entry ended early");
    got += n;
  }
}

// A body read through an entry reader, after the bytes read ahead for sniffing.
class EntryStream : public BodyStream {
 public:
  explicit EntryStream(std::unique_ptr<amzip::EntryReader> reader) : reader_(std::move(reader)) {}

  // Reads up to `count` leading bytes ahead; they are the first that Read gives.
  const std::string& ReadAhead(std::size_t count) {
    ahead_.resize(count);
    std::size_t got = 0;
    while (got < count) {
      const std::size_t n = reader_->Read(ahead_.data() + got, count - got);
      if (n == 0) break;
      got += n;
    }
    ahead_.resize(got);
    return ahead_;
  }

  std::size_t Read(char* buffer, std::size_t capacity) override {
    if (aheadSent_ < ahead_.size()) {
      const std::size_t n = std::min(capacity, ahead_.size() - aheadSent_);
      std::copy_n(ahead_.data() + aheadSent_, n, buffer);
      aheadSent_ += n;
      if (aheadSent_ == ahead_.size()) std::string().swap(ahead_), aheadSent_ = 0;
      return n;
    }
    return reader_->Read(buffer, capacity);
  }

 private:
  std::unique_ptr<amzip::EntryReader> reader_;
  std::string ahead_;
  std::size_t aheadSent_ = 0;
};

// `path` as it may stand in a Location header: bytes other than letters, digits and the
// characters a path segment allows are percent-encoded.
std::string EncodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
        std::string_view("-._~/!$&'()*+,;=:@").find(c) != std::string_view::npos) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

// A folder asked for without its "/": the same address with it, so the relative links of its
// page resolve inside the folder. Short-lived like every answer, since a newer version of the
// course may hold a file of that name.
HttpAnswer FolderRedirect(const std::string& path) {
  HttpAnswer answer;
  answer.head = "HTTP/1.1 301 Moved Permanently\r\nLocation: /" + EncodePath(path) +
                "/\r\nContent-Length: 0\r\nCache-Control: max-age=5\r\n\r\n";
  return answer;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A reader of the entry from `offset`; the entry was found a moment ago, so a null one means
// the archive cannot read it.
std::unique_ptr<amzip::EntryReader> OpenReader(amzip::ZipArchive& archive, const std::wstring& name,
                                               std::uint64_t offset) {
  std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(name, offset);
  if (!reader) throw std::runtime_error("entry not readable");
  return reader;
}

}  // namespace

ArchiveHandler::ArchiveHandler(amzip::ZipArchive& archive, std::string prefix)
    : archive_(archive), prefix_(std::move(prefix)) {}

HttpAnswer ArchiveHandler::Answer(const HttpRequest& request) {
  const std::string& path = request.path;
  if (path.size() < prefix_.size() || path.compare(0, prefix_.size(), prefix_) != 0) {
    // The course's own folder without its "/".
    if (path.size() + 1 == prefix_.size() && IsSeparator(prefix_.back()) && prefix_.compare(0, path.size(), path) == 0) {
      return FolderRedirect(path);
    }
    DebugLog("GET %s -> 404 - outside of scope\n\n", path.c_str());
    return StatusAnswer("404 Not Found");
  }
  lastActivityMs_.store(SteadyClockMs());
  // A folder's address (the prefix itself, or a name ending in "/") stands for its index.html.
  const std::string rest = path.substr(prefix_.size());
  const bool folderAddress = rest.empty() || IsSeparator(rest.back());
  const std::wstring name = Utf8ToWide(folderAddress ? rest + "index.html" : rest);
  std::lock_guard<std::mutex> setUp(setUp_);
  const char* method = request.isHead ? "HEAD" : "GET";
  try {
    // GET reads the entry, which needs an open archive; HEAD only looks the name up.
    if (!request.isHead && !archive_.IsOpen()) throw std::runtime_error("no archive");
    amzip::EntryInfo info;
    // A folder entry of the zip is never content; a name that is no entry but a folder with an
    // index.html is sent on to the folder's address.
    if (!archive_.Find(name, &info) || info.folder) {
      amzip::EntryInfo index;
      if (!folderAddress && archive_.Find(name + L"/index.html", &index) && !index.folder) {
        DebugLog("%s %S -> 301\n\n", method, name.c_str());
        return FolderRedirect(path);
      }
      DebugLog("%s %S -> 404\n\n", method, name.c_str());
      return StatusAnswer("404 Not Found");
    }
    return request.isHead ? AnswerHead(name, info) : AnswerGet(name, info, request);
  } catch (const amzip::AZError& error) {
    const std::wstring message = error.Message();
    DebugLog("%s %S -> 500 (%S)\n\n", method, name.c_str(), message.c_str());
  } catch (...) {
    DebugLog(request.isHead ? "HEAD %S -> 500 (unzip error)\n\n" : "GET %S -> 500 (extract error)\n\n",
             name.c_str());
  }
  return StatusAnswer("500 Internal Server Error");
}

HttpAnswer ArchiveHandler::AnswerHead(const std::wstring& name, const amzip::EntryInfo& info) {
  std::string type;
  // The type GET would send: one the table lacks is sniffed from the same leading bytes.
  if (!FindContentType(name, &type)) {
    std::string leading(static_cast<std::size_t>(std::min<std::uint64_t>(info.size, kSniffBytes)), '\0');
    ReadExactly(*OpenReader(archive_, name, 0), leading.data(), leading.size());
    type = SniffContentType(leading.data(), leading.size());
  }
  DebugLog("Content-Type: %s\n", type.c_str());

  HttpAnswer answer;
  std::string& header = answer.head;
  header = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: ";
  AppendDecimal(header, info.size);
  header += "\r\n";
  // An entry without a stamp has no modification time to tell: the line is left out.
  const std::string lastModified = info.hasTime ? HttpDateOf(info.modified) : std::string();
  if (!lastModified.empty()) header += "Last-Modified: " + lastModified + "\r\n";
  header += "Cache-Control: max-age=86400\r\n";
  header += expires_.At(CurrentFileTime());
  header += "\r\n";
  DebugLog("HEAD %S\n%s", name.c_str(), header.c_str());
  return answer;
}

HttpAnswer ArchiveHandler::AnswerGet(const std::wstring& name, const amzip::EntryInfo& info,
                                     const HttpRequest& request) {
  std::string type;
  const bool typed = FindContentType(name, &type);
  const bool navigation = typed && type == kNavigationContentType;
  // A range is only meaningful for the bytes as stored: navigation files, rewritten per run,
  // are always sent whole; and with If-Range, whose validator this server never gives out,
  // the whole entry is the safe answer.
  const ByteRange range =
      navigation || request.ifRange || request.range.empty() ? ByteRange() : ParseRange(request.range, info.size);

  HttpAnswer answer;
  if (range.kind == ByteRange::Kind::kUnsatisfiable) {
    answer.head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */";
    AppendDecimal(answer.head, info.size);
    answer.head += "\r\nContent-Length: 0\r\n\r\n";
    DebugLog("GET %S -> 416\n\n", name.c_str());
    return answer;
  }

  if (range.kind == ByteRange::Kind::kWhole) {
    const bool zeroCopy = info.stored && info.size > kAlwaysOneBuffer && archive_.IsVerified(name);
    if (navigation || (!zeroCopy && info.size <= kOneBufferLimit)) {
      if (navigation && info.size > kNavigationLimit) throw std::runtime_error("navigation file too large");
      std::string body = ReadWhole(name, info);
      // Only the leading bytes, as for a streamed entry, so HEAD and GET always agree.
      if (!typed) type = SniffContentType(body.data(), std::min<std::size_t>(body.size(), kSniffBytes));
      DebugLog("Content-Type: %s\n", type.c_str());
      if (navigation) FixNavigationFile(body, sessionUrl_);
      answer.head = GetHeader(type, body.size(), expires_.At(CurrentFileTime()));
      DebugLog("GET %S\n%s", name.c_str(), answer.head.c_str());
      answer.head += body;
      return answer;
    }
  }

  const bool part = range.kind == ByteRange::Kind::kPart;
  const std::uint64_t first = part ? range.first : 0;
  const std::uint64_t length = part ? range.last - range.first + 1 : info.size;
  std::string leading;
  answer.body = EntryBody(name, info, first, length, !typed, &leading);
  if (!typed) type = SniffContentType(leading.data(), leading.size());
  DebugLog("Content-Type: %s\n", type.c_str());
  answer.head = GetHeader(type, length, expires_.At(CurrentFileTime()), part ? &range : nullptr, info.size);
  DebugLog("GET %S\n%s", name.c_str(), answer.head.c_str());
  return answer;
}

std::string ArchiveHandler::ReadWhole(const std::wstring& name, const amzip::EntryInfo& info) {
  std::unique_ptr<amzip::EntryReader> reader = OpenReader(archive_, name, 0);
  std::string body(static_cast<std::size_t>(info.size), '\0');
  ReadExactly(*reader, body.data(), body.size());
  // The call that finds the end is the one that checks the CRC-32 and the size.
  char beyond;
  if (reader->Read(&beyond, 1) != 0) throw std::runtime_error("entry longer than its size");
  return body;
}

HttpBody ArchiveHandler::EntryBody(const std::wstring& name, const amzip::EntryInfo& info, std::uint64_t first,
                                   std::uint64_t length, bool sniff, std::string* leading) {
  HttpBody body;
  body.length = length;
  // Bytes sent without passing through this process cannot be checked: a whole entry goes so
  // only once a checked read of it has succeeded in this run. A part can never be checked
  // against the entry's CRC-32, so a stored one always goes straight from the archive.
  const bool whole = first == 0 && length == info.size;
  amzip::StoredSpan span;
  if (info.stored && (!whole || archive_.IsVerified(name)) && archive_.GetStoredSpan(name, &span)) {
    const std::size_t sniffed = static_cast<std::size_t>(std::min<std::uint64_t>(info.size, kSniffBytes));
    if (span.memory) {
      body.kind = HttpBody::Kind::kMemory;
      body.memory = reinterpret_cast<const char*>(span.memory) + first;
      if (sniff) leading->assign(reinterpret_cast<const char*>(span.memory), sniffed);
    } else {
      body.kind = HttpBody::Kind::kFile;
      body.file = span.file;
      body.offset = span.offset + first;
      if (sniff) {
        leading->resize(sniffed);
        ReadExactly(*OpenReader(archive_, name, 0), leading->data(), sniffed);
      }
    }
    return body;
  }
  auto stream = std::make_unique<EntryStream>(OpenReader(archive_, name, first));
  if (sniff && first == 0) {
    *leading = stream->ReadAhead(kSniffBytes);
  } else if (sniff) {
    const std::size_t sniffed = static_cast<std::size_t>(std::min<std::uint64_t>(info.size, kSniffBytes));
    leading->resize(sniffed);
    ReadExactly(*OpenReader(archive_, name, 0), leading->data(), sniffed);
  }
  body.kind = HttpBody::Kind::kStream;
  body.stream = std::move(stream);
  return body;
}
