// A tiny blocking HTTP/1.0 client for 127.0.0.1 only (loopback_get_win32.cpp / _posix.cpp): the
// launcher asks whether a run of the course already serves it, and tests fetch pages with it.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// Sends "GET <target> HTTP/1.1" with "Connection: close" to 127.0.0.1:port and reads the response
// until its Content-Length is complete or the server closes. True with the whole raw response
// when that happened within `timeoutMs` (Windows: each send and receive); false on a refused
// connection, a time-out, or a response larger than 16 MiB.
bool LoopbackGet(std::uint16_t port, const std::string& target, std::string& response,
                 int timeoutMs);

}  // namespace os

// The request LoopbackGet sends.
std::string LoopbackRequest(std::uint16_t port, const std::string& target);

// True when `raw` holds a complete header block and, if it names a Content-Length, that many
// body bytes; a response without one ends only when the server closes.
bool ResponseComplete(const std::string& raw);

// Splits a raw HTTP response: the status code of its "HTTP/1.x NNN ..." line, and the body after
// the first empty line. False when there is no such status line or no end of the header block.
bool ParseHttpResponse(const std::string& raw, int& status, std::string& body);
