// Files and folders on Windows: where a course's profile lives, and the services the profiles
// need (create, list with their last use, mark used, remove a tree).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/os/platform.h"

namespace os {

// True when `path` exists and is not a folder.
bool IsExistingWindowsFile(const std::wstring& path);

// The Unix time, in whole seconds, of a FILETIME (100-ns units since 1601).
std::int64_t UnixSecondsOf(const FILETIME& time);

// %LOCALAPPDATA%\keltrix\Orvane: the local application-data folder from SHGetFolderPathW
// (CSIDL_LOCAL_APPDATA), else from the LOCALAPPDATA variable; "" when neither gives one.
std::wstring WindowsUserDataFolder();

// Creates `path` and its missing parents; true when it is a folder afterwards.
bool MakeWindowsFolders(const std::wstring& path);

// The folders right under `parent`, with the Unix time of their last MarkWindowsFolderUsed (0
// when never marked).
std::vector<FolderUse> ListWindowsFolders(const std::wstring& parent);

// Writes the folder's use stamp, a small file whose last-write time is the time of use.
void MarkWindowsFolderUsed(const std::wstring& folder);

// Removes `path` and everything under it; a link or junction inside is removed itself, never
// followed. Read-only files are removed too. Harmless when `path` is missing. A folder is
// renamed aside first; paths longer than MAX_PATH work (the "\\?\" form is used).
void RemoveWindowsTree(const std::wstring& path);

// `path` in the "\\?\" form that lifts MAX_PATH (drive paths and UNC shares); others as they are.
std::wstring LongPathForm(const std::wstring& path);

// The lock of `folder` + ".lock" (see Platform::TryLockFolder): LockFileEx, exclusive, without
// waiting, on a handle that others may still open, read and delete.
// A file being deleted (RemoveFolderLock) cannot be opened: that counts as held elsewhere, so
// the caller asks again.
std::unique_ptr<FolderLock> TryLockWindowsFolder(const std::wstring& folder, bool& heldElsewhere);

// The names NAME of the files "NAME.lock" right under `parent`.
std::vector<std::wstring> ListWindowsFolderLocks(const std::wstring& parent);

// Replaces the file at `path` with `bytes` (written beside it, then moved over it).
bool WriteWindowsFile(const std::wstring& path, const std::string& bytes);

}  // namespace os
