// Whole-file reads and writes for orvane-zip.
#pragma once

#include <string>
#include <vector>

namespace orvanezip {

// The whole content of the file at `path`; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>* content);

// Writes `parts` one after the other to a new file at `path`; false on any failure.
bool WriteWholeFile(const std::wstring& path, const std::vector<const std::vector<unsigned char>*>& parts);

// The folder part of a path, up to and including its last separator ("" when it has none).
std::wstring FolderOf(const std::wstring& path);

}  // namespace orvanezip
