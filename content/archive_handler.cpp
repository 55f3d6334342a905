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

#include "content/accept_encoding.h"
#include "content/content_types.h"
#include "content/course_root.h"
#include "content/navigation.h"
#include "content/point_builder.h"
#include "content/range.h"
#include "http/steady_clock.h"
#include "text/filetime.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// The decimal digits of `n`, as FormatText("%lu") writes them.
void AppendDecimal(std::string& text, std::uint64_t n) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, n);
  text.append(digits, end.ptr);
}

// The head of a GET answer up to its Expires line: 200 for the whole entry, or 206 with the
// part's Content-Range; a deflate stream says so and that the answer depends on Accept-Encoding.
std::string GetHeaderStart(const std::string& type, std::uint64_t length, const ByteRange* part = nullptr,
                           std::uint64_t size = 0, bool deflated = false) {
  std::string header;
  header.reserve(160 + kAnswerHeaders.size() + type.size());
  header += part ? "HTTP/1.1 206 Partial Content\r\nContent-Type: " : "HTTP/1.1 200 OK\r\nContent-Type: ";
  header += type;
  if (deflated) header += "\r\nContent-Encoding: deflate\r\nVary: Accept-Encoding";
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
  header += kAnswerHeaders;
  return header;
}

std::string GetHeader(const std::string& type, std::uint64_t length, const std::string& expiresLine,
                      const ByteRange* part = nullptr, std::uint64_t size = 0) {
  std::string header = GetHeaderStart(type, length, part, size);
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
  static constexpr std::uint64_t kSkipSlice = 512u << 10;

  explicit EntryStream(std::unique_ptr<amzip::EntryReader> reader) : reader_(std::move(reader)) {}
  // A range that got past its skip hands its entry to the builder as it goes, so the builder's
  // inflating never competes with its own.
  ~EntryStream() override {
    if (builder_ != nullptr && skipped_) builder_->Want(name_, info_);
  }

  // Once this range is done, `builder` completes the entry's points.
  void CompleteLater(PointBuilder& builder, const std::wstring& name, const amzip::EntryInfo& info) {
    builder_ = &builder;
    name_ = name;
    info_ = info;
  }

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

  // Skipping to a range's start in a deflated entry goes this far per turn (a millisecond or
  // two of inflating), so the other connections are served in between.
  bool Prepare() override {
    if (aheadSent_ < ahead_.size()) return true;
    skipped_ = reader_->Prepare(kSkipSlice);
    return skipped_;
  }

 private:
  std::unique_ptr<amzip::EntryReader> reader_;
  std::string ahead_;
  std::size_t aheadSent_ = 0;
  PointBuilder* builder_ = nullptr;
  bool skipped_ = false;
  std::wstring name_;
  amzip::EntryInfo info_;
};

// `path` as it may stand in a Location header: bytes other than letters, digits and the
// characters a path segment allows are percent-encoded.
std::string EncodePath(const std::string& path) {
  return PercentEncode(path, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-._~/!$&'()*+,;=:@").find(c) != std::string_view::npos;
  });
}

// A folder asked for without its "/": the same address with it, so the relative links of its
// page resolve inside the folder. Short-lived like every answer, since a newer version of the
// course may hold a file of that name.
HttpAnswer FolderRedirect(const std::string& path) {
  HttpAnswer answer;
  answer.head = "HTTP/1.1 301 Moved Permanently\r\nLocation: /" + EncodePath(path) +
                "/\r\nContent-Length: 0\r\nCache-Control: max-age=5\r\n" + std::string(kAnswerHeaders) + "\r\n";
  return answer;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A reader of the entry from `offset`; the entry was found a moment ago, so a null one means
// the archive cannot read it.
std::unique_ptr<amzip::EntryReader> OpenReader(amzip::ZipArchive& archive, const std::wstring& name,
                                               const amzip::EntryInfo& info, std::uint64_t offset) {
  std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(name, info, offset);
  if (!reader) throw std::runtime_error("entry not readable");
  return reader;
}

}  // namespace

ArchiveHandler::ArchiveHandler(amzip::ZipArchive& archive, std::string prefix, std::string root)
    : archive_(archive), prefix_(std::move(prefix)), root_(std::move(root)) {}

HttpAnswer ArchiveHandler::Answer(const HttpRequest& request) {
  // Content is only read: a POST (the server takes one for handlers above this one) is not for it.
  if (request.method == "POST") return StatusAnswer("501 Not Implemented");
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
  std::lock_guard<std::mutex> setUp(setUp_);
  bool takesDeflate = false;
  if (const AnswerCache::Form* form = KeptForm(request, &takesDeflate)) {
    DebugLog("GET %s (kept)\n\n", request.rawPath.c_str());
    return Send(*form);
  }
  // A folder's address (the prefix itself, or a name ending in "/") stands for its index.html.
  const std::string rest = path.substr(prefix_.size());
  const bool folderAddress = rest.empty() || IsSeparator(rest.back());
  const std::wstring name = Utf8ToWide(root_ + (folderAddress ? rest + "index.html" : rest));
  const char* method = request.isHead ? "HEAD" : "GET";
  try {
    // GET reads the entry, which needs an open archive; HEAD only looks the name up.
    if (!request.isHead && !archive_.IsOpen()) throw std::runtime_error("no archive");
    amzip::EntryInfo info;
    // Only HEAD tells the entry's time: GET spares the conversion from local time.
    // A folder entry of the zip is never content; a name that is no entry but a folder with an
    // index.html is sent on to the folder's address.
    if (!archive_.Find(name, &info, request.isHead) || info.folder) {
      amzip::EntryInfo index;
      if (!folderAddress && archive_.Find(name + L"/index.html", &index, false) && !index.folder) {
        DebugLog("%s %S -> 301\n\n", method, name.c_str());
        return FolderRedirect(path);
      }
      if (rest.empty()) {
        DebugLog("%s %S -> the list of pages\n\n", method, name.c_str());
        return PageListAnswer(TopLevelPages(archive_, root_), request.isHead);
      }
      DebugLog("%s %S -> 404\n\n", method, name.c_str());
      return StatusAnswer("404 Not Found");
    }
    return request.isHead ? AnswerHead(name, info) : AnswerGet(name, info, request, takesDeflate);
  } catch (const amzip::AZError& error) {
    const std::wstring message = error.Message();
    DebugLog("%s %S -> 500 (%S)\n\n", method, name.c_str(), message.c_str());
  } catch (...) {
    DebugLog(request.isHead ? "HEAD %S -> 500 (unzip error)\n\n" : "GET %S -> 500 (extract error)\n\n",
             name.c_str());
  }
  return StatusAnswer("500 Internal Server Error");
}

const std::string& ArchiveHandler::Remember(const amzip::EntryInfo& info, std::string type) {
  // Entries keep their places only in a directory that loaded; another is walked again.
  if (!archive_.IsLoaded()) {
    scratchType_ = std::move(type);
    return scratchType_;
  }
  return sniffed_[info.entry] = std::move(type);
}

const AnswerCache::Form* ArchiveHandler::KeptForm(const HttpRequest& request, bool* takesDeflate) {
  *takesDeflate = !request.acceptEncoding.empty() && AcceptsDeflate(request.acceptEncoding);
  // Kept answers are whole GET answers; a range is answered from the entry.
  if (request.isHead || !request.range.empty()) return nullptr;
  AnswerCache::Answer* kept = kept_.Find(request.rawPath);
  if (kept == nullptr) return nullptr;
  // A client that takes deflate gets the deflate stream of a deflated entry, once it is kept.
  const AnswerCache::Form& form = kept->deflatable && *takesDeflate ? kept->deflated : kept->plain;
  return form.Empty() ? nullptr : &form;
}

HttpAnswer ArchiveHandler::Send(const AnswerCache::Form& form) {
  HttpAnswer answer;
  const std::string& expires = expires_.At(CurrentFileTime());
  answer.head.reserve(form.headStart.size() + expires.size() + 2 + (form.size <= kAlwaysOneBuffer ? form.size : 0));
  answer.head = form.headStart;
  answer.head += expires;
  answer.head += "\r\n";
  if (form.size <= kAlwaysOneBuffer) {
    answer.head.append(form.body.get(), form.size);
  } else {
    answer.body.kind = HttpBody::Kind::kMemory;
    answer.body.memory = form.body.get();
    answer.body.length = form.size;
    answer.body.owner = form.body;
  }
  return answer;
}

HttpAnswer ArchiveHandler::AnswerHead(const std::wstring& name, const amzip::EntryInfo& info) {
  std::string type;
  // The type GET would send: one the table lacks is sniffed from the same leading bytes, once.
  if (!FindContentType(name, &type)) {
    const auto known = sniffed_.find(info.entry);
    if (known != sniffed_.end()) {
      type = known->second;
    } else {
      std::string leading(static_cast<std::size_t>(std::min<std::uint64_t>(info.size, kSniffBytes)), '\0');
      ReadExactly(*OpenReader(archive_, name, info, 0), leading.data(), leading.size());
      type = Remember(info, SniffContentType(leading.data(), leading.size()));
    }
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
  header += kAnswerHeaders;
  header += expires_.At(CurrentFileTime());
  header += "\r\n";
  DebugLog("HEAD %S\n%s", name.c_str(), header.c_str());
  return answer;
}

HttpAnswer ArchiveHandler::AnswerGet(const std::wstring& name, const amzip::EntryInfo& info,
                                     const HttpRequest& request, bool takesDeflate) {
  std::string type;
  bool typed = FindContentType(name, &type);
  const bool navigation = typed && type == kNavigationContentType;
  if (!typed) {
    const auto known = sniffed_.find(info.entry);
    if (known != sniffed_.end()) type = known->second, typed = true;
  }
  // A range is only meaningful for the bytes as stored: navigation files, rewritten per run,
  // are always sent whole; and with If-Range, whose validator this server never gives out,
  // the whole entry is the safe answer.
  const ByteRange range =
      navigation || request.ifRange || request.range.empty() ? ByteRange() : ParseRange(request.range, info.size);

  HttpAnswer answer;
  if (range.kind == ByteRange::Kind::kUnsatisfiable) {
    answer.head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */";
    AppendDecimal(answer.head, info.size);
    answer.head += "\r\nContent-Length: 0\r\n";
    answer.head += kAnswerHeaders;
    answer.head += "\r\n";
    DebugLog("GET %S -> 416\n\n", name.c_str());
    return answer;
  }

  // Only whole answers of a request without a Range header are kept (an ignored range still
  // differs from the kept key's request).
  const bool keep = request.range.empty();
  // A deflated entry whose type needs no sniffing may go as its deflate stream.
  const bool deflatable = !info.stored && typed && !navigation;
  if (range.kind == ByteRange::Kind::kWhole) {
    if (deflatable && takesDeflate && AnswerDeflated(request, name, info, type, &answer)) return answer;
    if (navigation || info.size <= kOneBufferLimit) {
      if (navigation && info.size > kNavigationLimit) throw std::runtime_error("navigation file too large");
      AnswerCache::Form form;
      form.body = ReadWhole(name, info);
      form.size = static_cast<std::size_t>(info.size);
      // Only the leading bytes, as for a streamed entry, so HEAD and GET always agree.
      if (!typed) type = Remember(info, SniffContentType(form.body.get(), std::min<std::size_t>(form.size, kSniffBytes)));
      DebugLog("Content-Type: %s\n", type.c_str());
      if (navigation) {
        std::string body(form.body.get(), form.size);
        FixNavigationFile(body, sessionUrl_);
        std::shared_ptr<char[]> rewritten(new char[body.size()]);
        std::copy(body.begin(), body.end(), rewritten.get());
        form.body = std::move(rewritten);
        form.size = body.size();
      }
      form.headStart = GetHeaderStart(type, form.size);
      DebugLog("GET %S\n%s", name.c_str(), form.headStart.c_str());
      // The read has just checked the entry, so its deflate stream may go from now on: to this
      // client too, and a kept answer tells later ones to ask for that form.
      amzip::StoredSpan span;
      std::uint64_t streamLength = 0;
      const bool streamable = !info.stored && !navigation && archive_.GetDeflateSpan(name, info, &span, &streamLength);
      if (keep) kept_.Put(request.rawPath, form, false, streamable);
      if (streamable && takesDeflate && AnswerDeflated(request, name, info, type, &answer)) return answer;
      return Send(form);
    }
  }

  const bool part = range.kind == ByteRange::Kind::kPart;
  const std::uint64_t first = part ? range.first : 0;
  const std::uint64_t length = part ? range.last - range.first + 1 : info.size;
  std::string leading;
  answer.body = EntryBody(name, info, first, length, !typed, &leading);
  if (!typed) type = Remember(info, SniffContentType(leading.data(), leading.size()));
  DebugLog("Content-Type: %s\n", type.c_str());
  answer.head = GetHeader(type, length, expires_.At(CurrentFileTime()), part ? &range : nullptr, info.size);
  DebugLog("GET %S\n%s", name.c_str(), answer.head.c_str());
  return answer;
}

bool ArchiveHandler::AnswerDeflated(const HttpRequest& request, const std::wstring& name,
                                    const amzip::EntryInfo& info, const std::string& type, HttpAnswer* answer) {
  // The stream goes unchecked: only while the file is as it was when a checked read passed.
  archive_.NoteSourceChanges();
  amzip::StoredSpan span;
  std::uint64_t length = 0;
  std::uint32_t adler = 0;
  if (!archive_.GetDeflateSpan(name, info, &span, &length, &adler)) return false;
  // HTTP's "deflate" is the zlib format: a two-byte header (deflate, 32 KiB window), the
  // stream as stored, and the entry's Adler-32, most significant byte first.
  constexpr char kZlibHeader[2] = {0x78, 0x01};
  const char trailer[4] = {static_cast<char>(adler >> 24), static_cast<char>(adler >> 16),
                           static_cast<char>(adler >> 8), static_cast<char>(adler)};
  constexpr std::uint64_t kFraming = sizeof kZlibHeader + sizeof trailer;
  AnswerCache::Form form;
  form.headStart = GetHeaderStart(type, length + kFraming, nullptr, 0, true);
  DebugLog("GET %S (deflate)\n%s", name.c_str(), form.headStart.c_str());
  if (length + kFraming <= kOneBufferLimit) {
    const std::size_t size = static_cast<std::size_t>(length + kFraming);
    std::shared_ptr<char[]> body(new char[size]);
    std::copy_n(kZlibHeader, sizeof kZlibHeader, body.get());
    if (!archive_.ReadSpan(span, body.get() + sizeof kZlibHeader, length)) return false;
    std::copy_n(trailer, sizeof trailer, body.get() + size - sizeof trailer);
    form.body = std::move(body);
    form.size = size;
    *answer = Send(form);
    if (request.range.empty()) kept_.Put(request.rawPath, std::move(form), true, true);
    return true;
  }
  answer->head = form.headStart + expires_.At(CurrentFileTime()) + "\r\n";
  answer->head.append(kZlibHeader, sizeof kZlibHeader);
  answer->body.tail.assign(trailer, sizeof trailer);
  answer->body.length = length;
  if (span.file != -1) {
    answer->body.kind = HttpBody::Kind::kFile;
    answer->body.file = span.file;
    answer->body.offset = span.offset;
  } else {
    answer->body.kind = HttpBody::Kind::kMemory;
    answer->body.memory = reinterpret_cast<const char*>(span.memory);
  }
  return true;
}

std::shared_ptr<char[]> ArchiveHandler::ReadWhole(const std::wstring& name, const amzip::EntryInfo& info) {
  std::unique_ptr<amzip::EntryReader> reader = OpenReader(archive_, name, info, 0);
  // Not cleared first: every byte is written by the read.
  std::shared_ptr<char[]> body(new char[static_cast<std::size_t>(info.size)]);
  ReadExactly(*reader, body.get(), static_cast<std::size_t>(info.size));
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
  // only once a checked read of it has succeeded in this run (and the file has not changed
  // since). A part can never be checked against the entry's CRC-32, so a stored one always
  // goes straight from the archive. A file is preferred to memory (the embedded archive has
  // both): the system sends from it without a copy.
  const bool whole = first == 0 && length == info.size;
  if (info.stored && whole) archive_.NoteSourceChanges();
  amzip::StoredSpan span;
  if (info.stored && (!whole || archive_.IsVerified(name, info)) && archive_.GetStoredSpan(name, info, &span)) {
    const std::size_t sniffed = static_cast<std::size_t>(std::min<std::uint64_t>(info.size, kSniffBytes));
    if (span.file != -1) {
      body.kind = HttpBody::Kind::kFile;
      body.file = span.file;
      body.offset = span.offset + first;
    } else {
      body.kind = HttpBody::Kind::kMemory;
      body.memory = reinterpret_cast<const char*>(span.memory) + first;
    }
    if (sniff && span.memory != nullptr) {
      leading->assign(reinterpret_cast<const char*>(span.memory), sniffed);
    } else if (sniff) {
      leading->resize(sniffed);
      ReadExactly(*OpenReader(archive_, name, info, 0), leading->data(), sniffed);
    }
    return body;
  }
  auto stream = std::make_unique<EntryStream>(OpenReader(archive_, name, info, first));
  // A range into a large deflated entry: a client seeking in it, which will likely ask again.
  if (first != 0) stream->CompleteLater(builder_, name, info);
  if (sniff && first == 0) {
    *leading = stream->ReadAhead(kSniffBytes);
  } else if (sniff) {
    const std::size_t sniffed = static_cast<std::size_t>(std::min<std::uint64_t>(info.size, kSniffBytes));
    leading->resize(sniffed);
    ReadExactly(*OpenReader(archive_, name, info, 0), leading->data(), sniffed);
  }
  body.kind = HttpBody::Kind::kStream;
  body.stream = std::move(stream);
  return body;
}
