// The browsers' own sniffing of an answer that carries no type: the WHATWG MIME Sniffing
// standard's rules for identifying an unknown MIME type, with the sniff-scriptable flag set (an
// entry the extension table does not know may be a page). Portable: no library, no data file.
#pragma once

#include <cstddef>
#include <string>

// Looks at the first 1445 bytes (the standard's resource header) in its order: the HTML,
// XML and PDF signatures (HTML and XML after leading whitespace, HTML tags in any letter case
// and followed by a space or ">"), PostScript, the UTF-16 and UTF-8 byte order marks, then the
// image, audio and video, and archive signatures; else "text/plain" when no byte is a binary
// control byte, and "application/octet-stream" when one is.
std::string IdentifyUnknownType(const void* bytes, std::size_t length);
