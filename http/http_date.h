// The fixed-length date form of HTTP/1.1 (RFC 1123), e.g. "Thu, 31 Dec 2026 09:05:07 GMT".
#pragma once

#include <string>

#include "text/filetime.h"

// `time` is UTC; its milliseconds are ignored. 29 characters for a four-digit year.
std::string FormatHttpDate(const SystemTime& time);
// The same for a FileTime, or "" for a value that is no valid time.
std::string HttpDateOf(FileTime time);

// "Expires: " + the HTTP date one day after `now` + "\r\n", the line every 200 answer carries.
// The text changes once a second, so it is formatted once a second and reused meanwhile. One
// per server thread: it is not safe for two threads at once.
class ExpiresLine {
 public:
  const std::string& At(FileTime now);

 private:
  FileTime second_ = ~static_cast<FileTime>(0);  // the second of `line_`, in whole seconds
  std::string line_;
};
