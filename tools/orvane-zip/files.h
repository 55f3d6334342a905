// Path helpers for orvane-zip.
#pragma once

#include <string>

namespace orvanezip {

// The folder part of a path, up to and including its last separator ("" when it has none).
std::wstring FolderOf(const std::wstring& path);

}  // namespace orvanezip
