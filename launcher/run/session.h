// The portable pieces of the run's URLs: the prefix, the query arguments and the ".start" text.
// The start-up driver owns the values; the server's handler is given its own copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "amzip/archive.h"

// The run's prefix, the first path segment of every URL the server answers: "%x/" of the tick
// count, so 255 gives "ff/" and 4096 gives "1000/".
std::string FormatSessionPrefix(std::uint32_t tickCount);

// Appends "?" + args[first] + "&" + args[first + 1] ... verbatim (no encoding, no quoting);
// nothing when first is past the end.
void AppendQueryArguments(std::wstring& startUrl, const std::vector<std::wstring>& args,
                          std::size_t first);

// The text of the archive's ".start" entry: UTF-16LE up to its first zero unit, read through a
// checked reader; an odd last byte is a last character of its own (the byte as its low half).
// False when there is no such entry; an empty text comes back as true with `text` empty.
// Throws amzip::AZError as OpenEntry and the reader do (no archive open, data that does not
// match the directory).
bool ReadStartText(amzip::ZipArchive& archive, std::wstring& text);
