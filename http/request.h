// Request parsing: a complete header block in, the request's method, target and the headers a
// handler may use out.
#pragma once

#include <string>
#include <string_view>

#include "http/handler.h"

// Accepts: METHOD SP TARGET, where METHOD is exactly "GET" or "HEAD" (the text before the first
// space of the block) and TARGET runs to the next space, tab, CR or LF. The query (from a "?"
// on) is cut off, the rest percent-decoded, one leading "/" removed. Of the header lines (each
// after a CR LF, name matched without regard to ASCII case, the value's surrounding blanks
// removed) it keeps Range, every Range line joined by ", ", and whether If-Range is present;
// the version and every other line are ignored. False (answered 501) for any other method or a
// block without a space. Nothing is copied but the decoded path and the Range value.
bool ParseRequest(std::string_view block, HttpRequest* request);
