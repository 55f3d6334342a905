// Whole-file reads and writes for orvane-zip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvanezip {

// The whole content of the file at `path`; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>* content);

// Overwrites `count` bytes at `offset` of the existing file at `path`; false on any failure.
bool PatchWholeFile(const std::wstring& path, std::uint64_t offset, const void* bytes, std::size_t count);

// The folder part of a path, up to and including its last separator ("" when it has none).
std::wstring FolderOf(const std::wstring& path);

}  // namespace orvanezip
