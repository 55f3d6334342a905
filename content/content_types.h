// Content types of served entries: a fixed table by file extension, and sniffing from the
// bytes for names the table does not know.
#pragma once

#include <cstddef>
#include <string>

// The type sent for navigation files (extension "kxv"), which are rewritten before a GET.
inline constexpr const char kNavigationContentType[] = "application/x-keltrix-navigation";

// Looks the extension of `entryName` up in the table: the text after its last ".", provided
// that dot is not in a directory name (before the last "/", or the last "\" when there is no
// "/"), with A-Z lowered. True and `*type` set when the table has it; false and `*type`
// untouched otherwise (no dot, an empty extension, or one the table lacks).
bool FindContentType(const std::wstring& entryName, std::string* type);

// The MIME type that the platform's detection finds in the leading bytes, with "text/plain" as
// the proposed type and as the answer whenever detection fails or finds nothing.
std::string SniffContentType(const void* bytes, std::size_t length);
