// The record store's file operations on POSIX: open/write/fsync, link, rename, and an fsync of
// the folder so a rename outlives a pulled plug.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "scorm/record_file.h"
#include "text/text.h"

namespace {

bool Fail(std::string* error, const std::string& what) {
  *error = what + ": " + std::strerror(errno);
  return false;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& path) {
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;
  fsync(folder);
  close(folder);
}

}  // namespace

namespace record_file {

bool Read(const std::wstring& path, std::size_t maxBytes, std::string* bytes, std::string* error) {
  error->clear();
  const std::string name = WideToPath(path);
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? false : Fail(error, "open " + name);
  bytes->clear();
  char piece[65536];
  for (;;) {
    const ssize_t n = read(fd, piece, sizeof piece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Fail(error, "read " + name);
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->append(piece, static_cast<std::size_t>(n));
    if (bytes->size() > maxBytes) {
      close(fd);
      *error = name + " is larger than a record can be";
      return false;
    }
  }
  close(fd);
  return true;
}

bool WriteFlushed(const std::wstring& path, const std::string& bytes, std::string* error) {
  const std::string name = WideToPath(path);
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Fail(error, "create " + name);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(error, "write " + name);
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0) {
    Fail(error, "fsync " + name);
    close(fd);
    return false;
  }
  if (close(fd) != 0) return Fail(error, "close " + name);
  return true;
}

bool KeepBackup(const std::wstring& path, const std::wstring& backup, std::string* error) {
  const std::string from = WideToPath(path), to = WideToPath(backup);
  struct stat info {};
  if (stat(from.c_str(), &info) != 0) return errno == ENOENT ? true : Fail(error, "stat " + from);
  if (unlink(to.c_str()) != 0 && errno != ENOENT) return Fail(error, "unlink " + to);
  if (link(from.c_str(), to.c_str()) == 0) return true;
  // No hard links on this file system: a flushed copy.
  std::string bytes;
  return Read(path, static_cast<std::size_t>(info.st_size) + 1, &bytes, error) && WriteFlushed(backup, bytes, error);
}

bool Replace(const std::wstring& from, const std::wstring& to, std::string* error) {
  const std::string source = WideToPath(from), target = WideToPath(to);
  if (rename(source.c_str(), target.c_str()) != 0) return Fail(error, "rename " + source);
  SyncFolder(target);
  return true;
}

bool SetAside(const std::wstring& path, const std::wstring& aside, std::string* error) {
  const std::string from = WideToPath(path), to = WideToPath(aside);
  struct stat info {};
  if (lstat(to.c_str(), &info) == 0) {
    *error = to + " exists";
    return false;
  }
  if (rename(from.c_str(), to.c_str()) != 0) return Fail(error, "rename " + from);
  SyncFolder(to);
  return true;
}

}  // namespace record_file
