// The file operations the record store is built on, one implementation per platform
// (record_file_posix.cpp, record_file_win32.cpp). Paths are wide; each call says what failed.
#pragma once

#include <string>

namespace record_file {

// The file's bytes, at most `maxBytes` (more is an error). False with `*error` empty when the
// file does not exist, with the reason otherwise.
bool Read(const std::wstring& path, std::size_t maxBytes, std::string* bytes, std::string* error);

// Writes `bytes` to `path` (created or truncated) and flushes them to the disk (fsync /
// FlushFileBuffers) before returning true.
bool WriteFlushed(const std::wstring& path, const std::string& bytes, std::string* error);

// Makes `backup` the file `path` is now (a hard link, or a copy where links cannot be made),
// replacing an older backup. True when there is no `path` to keep.
bool KeepBackup(const std::wstring& path, const std::wstring& backup, std::string* error);

// Renames `from` over `to` in one step (rename / MoveFileExW with REPLACE_EXISTING and
// WRITE_THROUGH), and flushes the folder's entry where the system allows (POSIX).
bool Replace(const std::wstring& from, const std::wstring& to, std::string* error);

// Renames `path` to `aside`, which must not exist; false when it cannot.
bool SetAside(const std::wstring& path, const std::wstring& aside, std::string* error);

}  // namespace record_file
