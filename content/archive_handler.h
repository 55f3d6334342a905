// ArchiveHandler: the server's answers from one archive. Requests under the run's prefix name
// entries; GET and HEAD share one lookup and differ where the answers do: HEAD tells the
// directory's size and time, GET sends the bytes (checked against the entry's CRC-32 and size,
// or a byte range of them) and rewrites navigation files. Both sniff the leading bytes of an
// entry whose extension the table does not know, so they always name the same type.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "amzip/archive.h"
#include "content/answer_cache.h"
#include "content/point_builder.h"
#include "http/handler.h"
#include "http/http_date.h"

class ArchiveHandler : public HttpHandler {
 public:
  // Entries up to this size are read whole and checked before the first byte leaves; a
  // mismatch is answered 500.
  static constexpr std::uint64_t kOneBufferLimit = 256 * 1024;
  // Stored entries at most this large always go in one buffer with their head, even when
  // they could be sent without a copy: one send instead of two.
  static constexpr std::uint64_t kAlwaysOneBuffer = 64 * 1024;
  // The leading bytes an unknown type of a larger entry is sniffed from.
  static constexpr std::size_t kSniffBytes = 64 * 1024;
  // Whole answers kept for repeated requests: bodies up to kOneBufferLimit, this much in all.
  static constexpr std::size_t kKeptAnswerBytes = 32 * 1024 * 1024;

  // Answers from `archive` for paths that begin with `prefix` (e.g. "1a2b3c/"); both must
  // outlive the handler. The archive may still be closed: see HoldAnswers. The prefix stands
  // for the archive's folder `root` ("" for its top; e.g. "MyCourse/", see CourseRoot); the
  // prefix's own address, when the root has no index.html, lists the root's pages.
  ArchiveHandler(amzip::ZipArchive& archive, std::string prefix, std::string root = std::string());

  // While the returned lock is held, requests under the prefix wait before their lookup: the
  // run holds it from before the server starts until the archive is open and the session URL
  // set, so an early request is answered from the opened archive.
  std::unique_lock<std::mutex> HoldAnswers() { return std::unique_lock<std::mutex>(setUp_); }
  // The run's URL (BaseUrl + prefix), which navigation files are given as their 'wa_base'.
  // Call while holding HoldAnswers, or before the server starts.
  void SetSessionUrl(const std::string& url) { sessionUrl_ = url; }

  HttpAnswer Answer(const HttpRequest& request) override;
  // The time of the last request under the prefix, found or not.
  std::uint64_t LastActivityMs() const override { return lastActivityMs_.load(); }

 private:
  HttpAnswer AnswerHead(const std::wstring& name, const amzip::EntryInfo& info);
  HttpAnswer AnswerGet(const std::wstring& name, const amzip::EntryInfo& info, const HttpRequest& request,
                       bool takesDeflate);
  // `type`, sniffed for the entry of `info`, remembered so it is sniffed once.
  const std::string& Remember(const amzip::EntryInfo& info, std::string type);
  // A kept answer, if there is one for this request; null otherwise.
  const AnswerCache::Form* KeptForm(const HttpRequest& request, bool* takesDeflate);
  // The answer of a form: its head, the current Expires line and the body.
  HttpAnswer Send(const AnswerCache::Form& form);
  // To a client that takes deflate: the entry's deflate stream as stored, in the zlib format
  // (with the Adler-32 the checked read computed), once a checked read found the entry intact;
  // false (nothing sent) when it cannot go so.
  bool AnswerDeflated(const HttpRequest& request, const std::wstring& name, const amzip::EntryInfo& info,
                      const std::string& type, HttpAnswer* answer);
  // The entry read whole through a checked reader (throws AZError on a mismatch).
  std::shared_ptr<char[]> ReadWhole(const std::wstring& name, const amzip::EntryInfo& info);
  // The body of bytes [first, first + length) of the entry, with the entry's leading bytes
  // in `*leading` when `sniff` asks for them.
  HttpBody EntryBody(const std::wstring& name, const amzip::EntryInfo& info, std::uint64_t first,
                     std::uint64_t length, bool sniff, std::string* leading);

  amzip::ZipArchive& archive_;
  const std::string prefix_;
  const std::string root_;
  std::string sessionUrl_;
  std::mutex setUp_;
  // Answers run on the server thread only; what they keep needs no lock.
  ExpiresLine expires_;
  AnswerCache kept_{kKeptAnswerBytes, kOneBufferLimit};
  // The types sniffed for entries whose extension the table lacks, by entry (Remember).
  std::unordered_map<const amzip::ZipEntry*, std::string> sniffed_;
  std::string scratchType_;
  std::atomic<std::uint64_t> lastActivityMs_{0};
  // Last: it stops before anything it reads through goes.
  PointBuilder builder_{archive_};
};
