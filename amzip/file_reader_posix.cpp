// FileReader on POSIX: open(2) with the path's own bytes (WideToPath), pread(2) at 64-bit
// offsets. A folder does not open (errno EISDIR), as on Windows, where CreateFileW refuses it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "amzip/reader.h"
#include "text/text.h"

namespace amzip {

FileReader::FileReader(const std::wstring& filePath) {
  const int fd = open(WideToPath(filePath).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = error;
    return;
  }
  file = fd;
  size = static_cast<std::uint64_t>(info.st_size);
}

bool FileReader::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const {
  *got = 0;
  if (file == -1) return count == 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (*got < count) {
    const ssize_t n = pread(static_cast<int>(file), out + *got, count - *got, static_cast<off_t>(offset + *got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;  // the end of the file
    *got += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool FileReader::Stamp(std::uint64_t* fileSize, std::uint64_t* modified) const {
  struct stat info;
  if (file == -1 || fstat(static_cast<int>(file), &info) != 0) return false;
  *fileSize = static_cast<std::uint64_t>(info.st_size);
  *modified = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u + static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
  return true;
}

void FileReader::Close() {
  if (file != -1) {
    ::close(static_cast<int>(file));
    file = -1;
  }
}

}  // namespace amzip
