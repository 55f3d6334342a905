// The portable pieces of the run's URLs: the prefix, the query arguments and the ".start" text.
// The start-up driver owns the values; the server's handler is given its own copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "amzip/archive.h"

// Appends "?" + args[first] + "&" + args[first + 1] ... as the caller wrote them, except that
// what cannot stand in a URL (space, control characters, non-ASCII, '"', '<', '>', '#') is
// percent-encoded as UTF-8; '%', '&', '=' and '+' keep their meaning. Nothing when first is
// past the end.
void AppendQueryArguments(std::wstring& startUrl, const std::vector<std::wstring>& args,
                          std::size_t first);

// Appends the start text as the query parameter "show": "?show=" when the URL has no query yet,
// else "&show=", then the text percent-encoded whole as UTF-8 like JavaScript's
// encodeURIComponent, so URLSearchParams gives it back exactly.
void AppendStartParameter(std::wstring& startUrl, const std::wstring& text);

// The text of the archive's ".start" entry: UTF-16LE up to its first zero unit, read through a
// checked reader; an odd last byte is a last character of its own (the byte as its low half).
// False when there is no such entry; an empty text comes back as true with `text` empty.
// Throws amzip::AZError as OpenEntry and the reader do (no archive open, data that does not
// match the directory).
bool ReadStartText(amzip::ZipArchive& archive, std::wstring& text);
