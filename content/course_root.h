// Where a course starts in its archive: the folder that holds it (a zip made by compressing the
// course's folder puts every entry under it) and its start page.
#pragma once

#include <string>
#include <vector>

#include "amzip/archive.h"
#include "http/handler.h"

// "FOLDER/" when every entry lies under that one top folder (a top-level ".start", the
// launcher's own, and "__MACOSX/", which macOS adds, left out); "" otherwise. UTF-8, "/" separated.
std::string CourseRoot(const amzip::ZipArchive& archive);

// The pages (".html", ".htm", any letter case) right in the course's root folder, sorted.
std::vector<std::string> TopLevelPages(const amzip::ZipArchive& archive, const std::string& root);

// The start page under `root`: index.html, else index.htm, default.html, default.htm, else the
// root's only page; "" when none of those is there (the root's address then lists its pages).
std::string StartPageOf(const amzip::ZipArchive& archive, const std::string& root);

// The launcher's own page listing `pages` as links, for a course with no start page.
HttpAnswer PageListAnswer(const std::vector<std::string>& pages, bool isHead);
