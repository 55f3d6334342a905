// The process-wide values of one run: written once on the main thread before the browser (the
// server's only expected client) starts, read without a lock by the server thread afterwards.
#pragma once

#include <string>

#include "amzip/archive.h"

// The one archive of the run.
extern amzip::ZipArchive TheArchive;

// The tick count at start in lower-case hexadecimal, then "/": the first path segment of every
// URL the server answers.
extern std::string SessionPrefix;

// BaseUrl + SessionPrefix, e.g. http://127.0.0.1:4711/1a2b3c/.
extern std::wstring SessionUrl;
