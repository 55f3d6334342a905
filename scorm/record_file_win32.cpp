// The record store's file operations on Windows: CreateFileW/WriteFile/FlushFileBuffers,
// CreateHardLinkW (CopyFileW where links cannot be made), and MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include <windows.h>

#include <algorithm>

#include "scorm/record_file.h"
#include "text/text.h"

namespace {

bool Fail(std::string* error, const std::string& what) {
  *error = what + ": error " + std::to_string(GetLastError());
  return false;
}

}  // namespace

namespace record_file {

bool Read(const std::wstring& path, std::size_t maxBytes, std::string* bytes, std::string* error) {
  error->clear();
  const std::string name = WideToUtf8(path);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? false : Fail(error, "open " + name);
  }
  bytes->clear();
  char piece[65536];
  bool ok = true;
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, piece, sizeof piece, &n, nullptr)) {
      ok = Fail(error, "read " + name);
      break;
    }
    if (n == 0) break;
    bytes->append(piece, n);
    if (bytes->size() > maxBytes) {
      *error = name + " is larger than a record can be";
      ok = false;
      break;
    }
  }
  CloseHandle(file);
  return ok;
}

bool WriteFlushed(const std::wstring& path, const std::string& bytes, std::string* error) {
  const std::string name = WideToUtf8(path);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(error, "create " + name);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    ok = WriteFile(file, bytes.data() + done, piece, &n, nullptr) && n > 0 ? true : Fail(error, "write " + name);
    done += n;
  }
  if (ok && !FlushFileBuffers(file)) ok = Fail(error, "flush " + name);
  CloseHandle(file);
  return ok;
}

bool KeepBackup(const std::wstring& path, const std::wstring& backup, std::string* error) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  if (!DeleteFileW(backup.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return Fail(error, "delete " + WideToUtf8(backup));
  if (CreateHardLinkW(backup.c_str(), path.c_str(), nullptr)) return true;
  std::string bytes;
  return Read(path, static_cast<std::size_t>(-1), &bytes, error) && WriteFlushed(backup, bytes, error);
}

bool Replace(const std::wstring& from, const std::wstring& to, std::string* error) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(error, "move " + WideToUtf8(from));
  }
  return true;
}

bool SetAside(const std::wstring& path, const std::wstring& aside, std::string* error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `aside` exists.
  if (!MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return Fail(error, "move " + WideToUtf8(path));
  return true;
}

}  // namespace record_file
