// Folder services for Windows; see folders_win32.h.
#include "launcher/os/folders_win32.h"

#include <shlobj.h>

#include <cwchar>

namespace {

// The stamp's name inside a folder the run uses.
constexpr const wchar_t* kUseStamp = L".orvane-used";

std::wstring LongForm(const std::wstring& path) { return os::LongPathForm(path); }

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Calls `visit` with each entry of `folder` but "." and "..".
template <class Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!IsDotOrDotDot(found.cFileName)) visit(found);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

namespace os {

bool IsExistingWindowsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::int64_t UnixSecondsOf(const FILETIME& time) {
  constexpr std::int64_t kUnixEpoch = 116444736000000000ll;  // 1970-01-01 in 100-ns units
  const std::int64_t units = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (units - kUnixEpoch) / 10000000;
}

std::wstring WindowsUserDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  std::wstring base;
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    base = folder;
  } else {
    wchar_t variable[32768] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", variable, 32768);
    if (n == 0 || n >= 32768) return std::wstring();
    base.assign(variable, n);
  }
  if (base.empty()) return std::wstring();
  if (base.back() != L'\\') base += L'\\';
  return base + L"keltrix\\Orvane";
}

bool MakeWindowsFolders(const std::wstring& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  // Each parent first, from the top; a drive or share root cannot be made and already exists.
  for (std::size_t slash = path.find_first_of(L"\\/"); slash != std::wstring::npos;
       slash = path.find_first_of(L"\\/", slash + 1)) {
    const std::wstring parent = path.substr(0, slash);
    if (!parent.empty() && parent.back() != L':' && !IsFolder(parent)) {
      CreateDirectoryW(LongForm(parent).c_str(), nullptr);
    }
  }
  CreateDirectoryW(LongForm(path).c_str(), nullptr);
  return IsFolder(path);
}

std::vector<FolderUse> ListWindowsFolders(const std::wstring& parent) {
  std::vector<FolderUse> folders;
  ForEachEntry(parent, [&](const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return;
    FolderUse use{entry.cFileName, 0};
    WIN32_FILE_ATTRIBUTE_DATA stamp;
    if (GetFileAttributesExW((parent + L"\\" + entry.cFileName + L"\\" + kUseStamp).c_str(),
                             GetFileExInfoStandard, &stamp)) {
      use.lastUsedSeconds = UnixSecondsOf(stamp.ftLastWriteTime);
    }
    folders.push_back(std::move(use));
  });
  return folders;
}

void MarkWindowsFolderUsed(const std::wstring& folder) {
  const HANDLE file = CreateFileW((folder + L"\\" + kUseStamp).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  // Opening alone does not change the last-write time.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(file, nullptr, nullptr, &now);
  CloseHandle(file);
}

namespace {

void RemoveLongTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  // A junction or folder link is removed as the link it is; what it points to stays.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    ForEachEntry(path, [&](const WIN32_FIND_DATAW& entry) { RemoveLongTree(path + L"\\" + entry.cFileName); });
  }
  RemoveDirectoryW(path.c_str());
}

class WindowsFolderLock final : public FolderLock {
 public:
  explicit WindowsFolderLock(HANDLE file) : file_(file) {}
  ~WindowsFolderLock() override { CloseHandle(file_); }  // closing lets go of the lock

 private:
  HANDLE file_;
};

}  // namespace

std::wstring LongPathForm(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) return L"\\\\?\\" + path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

void RemoveWindowsTree(const std::wstring& path) {
  const std::wstring whole = LongPathForm(path);
  const DWORD attributes = GetFileAttributesW(whole.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  std::wstring target = whole;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    const std::size_t slash = whole.find_last_of(L'\\');
    const std::wstring aside = whole.substr(0, slash + 1) + L".removing-" +
                               std::to_wstring(GetCurrentProcessId()) + L"-" + whole.substr(slash + 1);
    if (MoveFileExW(whole.c_str(), aside.c_str(), 0)) target = aside;
  }
  RemoveLongTree(target);
}

std::unique_ptr<FolderLock> TryLockWindowsFolder(const std::wstring& folder, bool& heldElsewhere) {
  heldElsewhere = false;
  const HANDLE file = CreateFileW(LongPathForm(folder + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    heldElsewhere = GetLastError() == ERROR_ACCESS_DENIED;  // also: being deleted
    return nullptr;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    heldElsewhere = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<WindowsFolderLock>(file);
}

std::vector<std::wstring> ListWindowsFolderLocks(const std::wstring& parent) {
  std::vector<std::wstring> names;
  ForEachEntry(parent, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && name.size() > 5 &&
        _wcsicmp(name.c_str() + name.size() - 5, L".lock") == 0) {
      names.push_back(name.substr(0, name.size() - 5));
    }
  });
  return names;
}

bool WriteWindowsFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = LongPathForm(path + L"." + std::to_wstring(GetCurrentProcessId()));
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size();
  CloseHandle(file);
  if (whole && MoveFileExW(temporary.c_str(), LongPathForm(path).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(temporary.c_str());
  return false;
}

}  // namespace os
