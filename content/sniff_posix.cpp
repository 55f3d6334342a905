// Content sniffing on POSIX: what a browser itself would make of an answer without a type.
#include "content/content_types.h"
#include "content/unknown_type.h"

std::string SniffContentType(const void* bytes, std::size_t length) { return IdentifyUnknownType(bytes, length); }
