// The fixed-length date form of HTTP/1.1 (RFC 1123), e.g. "Thu, 31 Dec 2026 09:05:07 GMT".
#pragma once

#include <string>

#include "text/filetime.h"

// `time` is UTC; its milliseconds are ignored. 29 characters for a four-digit year.
std::string FormatHttpDate(const SystemTime& time);
