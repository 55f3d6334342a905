// Request parsing: a complete header block in, the request's method, target and the headers a
// handler may use out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "http/handler.h"

// Accepts: METHOD SP TARGET, where METHOD is exactly "GET", "HEAD" or "POST" (the text before
// the first space of the block) and TARGET runs to the next space, tab, CR or LF. The query (from a "?"
// on) is cut off, the rest percent-decoded, one leading "/" removed. Of the header lines (each
// after a CR LF, name matched without regard to ASCII case, the value's surrounding blanks
// removed) it keeps Range, every Range line joined by ", ", whether If-Range is present, Host,
// Origin, Sec-Fetch-Site, Content-Length (decimal digits only, else badLength) and whether
// Transfer-Encoding is present; the version and every other line are ignored. False (answered 501) for any other method
// or a block without a space. Nothing is copied but the decoded path and the values kept.
bool ParseRequest(std::string_view block, HttpRequest* request);

// True when the request was meant for this server: it names no host (HTTP/1.0), or its Host is
// "127.0.0.1:PORT" or "localhost:PORT" (any letter case) with the port the server listens on
// (on port 80 also without ":80", as browsers send it).
// Any other name reached 127.0.0.1 through a name that someone else's DNS answers (DNS
// rebinding): a page of that site would read the answer as its own.
bool IsOwnHost(const HttpRequest& request, std::uint16_t port);
