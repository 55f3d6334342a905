// The process-wide values of one run, written once on the main thread: SessionPrefix before the
// server starts, TheArchive and SessionUrl while TheArchiveMutex is held (below), so the server
// thread, which takes that lock before it reads the archive, sees them complete. Also the
// portable pieces of the start URL: the prefix, the query arguments and the ".start" text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "amzip/archive.h"

// The one archive of the run.
extern amzip::ZipArchive TheArchive;

// Keeps the server thread's calls on TheArchive apart from the start-up driver's: the server
// listens before the archive is opened, so a local client may ask while the directory is still
// being read. The driver holds it from before the server starts until the archive is open and
// ".start" is read; the server holds it while an answer reads the archive. Tear-down takes it
// no more: the server is stopped (its thread possibly ended by force) before the archive closes.
extern std::mutex TheArchiveMutex;

// The tick count at start in lower-case hexadecimal, then "/": the first path segment of every
// URL the server answers.
extern std::string SessionPrefix;

// BaseUrl + SessionPrefix, e.g. http://127.0.0.1:4711/1a2b3c/.
extern std::wstring SessionUrl;

// "%x/" of the tick count: 255 gives "ff/", 4096 gives "1000/".
std::string FormatSessionPrefix(std::uint32_t tickCount);

// Appends "?" + args[first] + "&" + args[first + 1] ... verbatim (no encoding, no quoting);
// nothing when first is past the end.
void AppendQueryArguments(std::wstring& startUrl, const std::vector<std::wstring>& args,
                          std::size_t first);

// The text of the archive's ".start" entry: UTF-16LE up to its first zero unit, taken as stored;
// an odd last byte is a last character of its own (the byte as its low half).
// False when there is no such entry; an empty text comes back as true with `text` empty.
// Throws amzip::AZError as Extract does (also when no archive is open).
bool ReadStartText(amzip::ZipArchive& archive, std::wstring& text);
