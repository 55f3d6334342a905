// The folder that holds a whole archive: a zip made by compressing a course's folder (rather
// than its contents) puts every entry under it.
#pragma once

#include <string>

#include "amzip/archive.h"
#include "amzip/entry.h"

namespace amzip {

// An entry's name as UTF-8 with "/" separators.
std::string SlashName(const ZipEntry& entry);

// "FOLDER/" when every entry lies under that one top folder (a top-level ".start", the
// launcher's own, and "__MACOSX/", which macOS adds, left out); "" otherwise. UTF-8.
std::string TopFolder(const ZipArchive& archive);

}  // namespace amzip
