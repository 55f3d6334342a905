// Platform: the operating-system services the run uses, behind one interface with neutral names,
// so the portable code above it (the run's sequence, the browsers) runs unchanged on Windows, on
// POSIX and in tests. platform_win32.cpp / platform_posix.cpp give the real ones; the tests'
// FakePlatform (tests/launcher/fake_platform.h) answers sensibly by default.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/os/account.h"
#include "launcher/os/child_process.h"

// The separator of the paths the platform takes.
#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
#else
constexpr wchar_t kPathSeparator = L'/';
#endif

// A lock the run holds on a folder; let go when destroyed (or when the process ends, however).
class FolderLock {
 public:
  virtual ~FolderLock() = default;
};

// A folder under a parent, and when the run last marked it used.
struct FolderUse {
  std::wstring name;               // the folder's own name, not its path
  std::int64_t lastUsedSeconds;    // Unix time of its last MarkFolderUsed; 0 when never marked
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Clocks. NowMs: a monotonic millisecond clock, the one the server's LastScopedRequestMs is
  // read on. UnixSeconds: the wall clock.
  virtual std::uint64_t NowMs() = 0;
  virtual std::int64_t UnixSeconds() = 0;

  // Sleeps `ms` milliseconds. False, possibly early, once the user asked the run to end
  // (SIGINT / SIGTERM on POSIX, WM_QUIT on Windows). On Windows the thread's messages are
  // dispatched meanwhile (a program that broadcasts must not wait on us).
  virtual bool Sleep(std::uint32_t ms) = 0;

  // The account the run belongs to (os::CurrentAccount).
  virtual os::AccountNames CurrentAccount() = 0;

  // True when `path` names something that exists and is not a directory.
  virtual bool IsExistingFile(const std::wstring& path) = 0;
  // Up to `maxBytes` of the file at `path`; false when it cannot be opened.
  virtual bool ReadSmallFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes) = 0;
  // The path of the running program (GetModuleFileNameW / OwnProgramFile); "" when unknown.
  virtual std::wstring OwnProgramPath() = 0;

  // The modal error message box (POSIX: stderr, plus a dialog when there is a display).
  virtual void ShowError(const std::wstring& text) = 0;
  // A line for the user on standard error (POSIX, when there is one); nothing on Windows.
  virtual void Notice(const std::wstring& text) = 0;
  // Writes `bytes` to standard output (Windows, a GUI program: the handle it inherited, else the
  // console of the process that started it); false when there is none or the write failed.
  virtual bool WriteOutput(const std::string& bytes) = 0;

  // The folder for per-user data of the program: %LOCALAPPDATA%\keltrix\Orvane (Windows),
  // $XDG_DATA_HOME/keltrix/orvane, default ~/.local/share/keltrix/orvane (POSIX). "" when
  // there is none. Not created here.
  virtual std::wstring UserDataFolder() = 0;
  // Creates `path` and its missing parents; true when it exists as a folder afterwards.
  virtual bool MakeFolders(const std::wstring& path) = 0;
  // The folders right under `parent` (none when it does not exist).
  virtual std::vector<FolderUse> ListFolders(const std::wstring& parent) = 0;
  // Records that `folder` is used now (a stamp file in it).
  virtual void MarkFolderUsed(const std::wstring& folder) = 0;
  // Removes `path` and everything under it, never following links; harmless when missing. The
  // folder is first renamed aside in its parent, so no one finds it half removed.
  virtual void RemoveTree(const std::wstring& path) = 0;
  // Takes, without waiting, the lock of `folder`: the file `folder` + ".lock" beside it, created
  // when missing, held open with an exclusive lock (flock / LockFileEx) until the result is
  // destroyed. The folder itself need not exist. Null when it cannot be had, with
  // `heldElsewhere` true when that is because another process holds it.
  virtual std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, bool& heldElsewhere) = 0;
  // The folders under `parent` that have a lock file (TryLockFolder's "NAME.lock"), by NAME,
  // whether the folder exists or not.
  virtual std::vector<std::wstring> ListFolderLocks(const std::wstring& parent) = 0;
  // Removes the lock file of `folder`, which `lock` holds, then lets go of it. A process that
  // opened the file before it went finds out when it takes the lock (POSIX: the file it holds
  // is no longer the one at the path; Windows: it cannot open a file being deleted) and tries
  // again on a new one.
  virtual void RemoveFolderLock(const std::wstring& folder, std::unique_ptr<FolderLock> lock) = 0;
  // Replaces the file at `path` with `bytes`; false when it cannot be written.
  virtual bool WriteSmallFile(const std::wstring& path, const std::string& bytes) = 0;

  // Starts `start`: Windows CreateProcessW of its commandLine, with its program as the application
  // name (a name without a folder looked up under App Paths first); POSIX posix_spawn of its
  // program with its args. It starts in its folder when one is given. With messagePipe it gets a
  // MessagePipe (ChildProcess::Pipe): POSIX on descriptors 3 and 4, Windows as the C runtime
  // hands descriptors 3 and 4 to a child; when the pipe cannot be made it starts without one.
  // Null when it could not be started (the reason went to DebugLog).
  virtual std::unique_ptr<ChildProcess> StartProcess(const ProgramStart& start) = 0;

  // GET `target` from 127.0.0.1:port (HTTP/1.1, Connection: close), within `timeoutMs`. True
  // with the status code and body of a complete response; false on a refused connection, a
  // time-out or no readable response. The same on every platform (os::LoopbackGet); tests
  // answer for themselves.
  virtual bool LoopbackGet(std::uint16_t port, const std::string& target, int timeoutMs,
                           int& status, std::string& body);
};

// The real services of the platform being built.
std::unique_ptr<Platform> NewSystemPlatform();
