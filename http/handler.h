// HttpHandler: what the server asks for the answer to each request it has parsed. The server
// knows requests, connections and how to send a body; what the answers say is the handler's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// One parsed request (see ParseRequest in request.h).
struct HttpRequest {
  bool isHead = false;   // HEAD; GET or POST otherwise (see `method`)
  std::string path;      // the target: query cut off, percent-decoded, one leading "/" removed
  std::string range;     // the Range header's value, blanks around it removed; "" when absent
  bool ifRange = false;  // an If-Range header was sent
  bool hasHost = false;  // a Host header was sent (HTTP/1.0 needs none)
  std::string host;      // its value; "" when there was more than one, which names no server
  std::string rawPath;   // `path` as sent, before percent-decoding (a key for cached answers)
  std::string acceptEncoding;  // the Accept-Encoding header's value, as `range`
  std::string method;          // "GET", "HEAD" or "POST" (the server answers no other method itself)
  bool hasOrigin = false;      // an Origin header was sent
  std::string origin;          // its value
  std::string secFetchSite;    // the Sec-Fetch-Site header's value; "" when absent
  std::uint64_t contentLength = 0;  // the Content-Length header's value (0 when absent)
  bool badLength = false;      // Content-Length malformed, or sent twice with different values
  bool chunked = false;        // a Transfer-Encoding header was sent (any coding)
  std::string body;            // a POST's body, exactly contentLength bytes once answered
};

// A body produced piece by piece while the socket drains.
class BodyStream {
 public:
  virtual ~BodyStream() = default;
  // Writes the next bytes, at most `capacity`, to `buffer`: their count, or 0 after the last
  // byte. Throws for unreadable or damaged data; the server then ends the connection abortively,
  // so the client sees a body shorter than its Content-Length, never a complete wrong one.
  virtual std::size_t Read(char* buffer, std::size_t capacity) = 0;
  // Does a bounded share (a few milliseconds) of the work that has to come before the next
  // Read can return, such as inflating up to a range's first byte: false while more of it
  // remains; the server then serves the other connections before asking again. Throws as Read.
  virtual bool Prepare() { return true; }
};

// The body that follows an answer's head when it is not in the head's buffer itself.
struct HttpBody {
  enum class Kind {
    kNone,    // the answer is `head` alone
    kMemory,  // `length` bytes at `memory`, which stay valid while the server runs
    kFile,    // `length` bytes of the file `file` (POSIX descriptor, Windows HANDLE) at `offset`
    kStream,  // `length` bytes from `stream`
  };
  Kind kind = Kind::kNone;
  const char* memory = nullptr;
  std::intptr_t file = -1;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::unique_ptr<BodyStream> stream;
  // Keeps `memory` alive while the body is sent, when the handler may drop it meanwhile.
  std::shared_ptr<const void> owner;
  // A few bytes sent after the `length` bytes (a checksum that ends a stream sent as stored);
  // the head's Content-Length counts them.
  std::string tail;
};

// The header lines every answer carries, each ending in CRLF: other origins may not read or
// embed its bytes (a script or image of the course on another site's page), nor frame its
// pages; no content type is guessed past the one given; and the connection ends after it.
inline constexpr std::string_view kAnswerHeaders =
    "Cross-Origin-Resource-Policy: same-origin\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: frame-ancestors 'self'\r\n"
    "Connection: close\r\n";

struct HttpAnswer {
  // Status line and headers (kAnswerHeaders among them) through the empty line; a small body
  // may simply follow them here.
  std::string head;
  HttpBody body;
};

class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  // The answer to `request`. Called on the server thread, one request at a time. An exception
  // (out of memory) closes that connection without an answer.
  virtual HttpAnswer Answer(const HttpRequest& request) = 0;
  // The steady-clock time in ms (SteadyClockMs) of the last request the handler counts as
  // activity of its own; 0 when there was none. Readable from any thread.
  virtual std::uint64_t LastActivityMs() const { return 0; }
};

// "HTTP/1.1 " + statusText + "\r\n" + kAnswerHeaders + "\r\n": an answer without a body.
HttpAnswer StatusAnswer(const char* statusText);

// Answers every request "404 Not Found": a server with nothing to serve (tests that need a
// server but no answers from it).
class NotFoundHandler : public HttpHandler {
 public:
  HttpAnswer Answer(const HttpRequest&) override { return StatusAnswer("404 Not Found"); }
};
