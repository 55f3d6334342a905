// Test client on BSD sockets; counts from /proc.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "tests/http/raw_client.h"

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Entries of a /proc folder; `own` is how many of them the count itself holds open.
int CountEntries(const char* folder, int own) {
  DIR* dir = opendir(folder);
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - own;
}

}  // namespace

RawClient::RawClient(std::uint16_t port, int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  socket_ = static_cast<std::uintptr_t>(fd);
  if (fd < 0) return;
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  timeval timeout = {10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const sockaddr_in address = Loopback(port);
  connected_ = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
  if (static_cast<int>(socket_) >= 0) close(static_cast<int>(socket_));
  socket_ = static_cast<std::uintptr_t>(-1);
  connected_ = false;
}

void RawClient::ShutdownSend() { shutdown(static_cast<int>(socket_), SHUT_WR); }

long RawClient::SendSome(const char* bytes, std::size_t count) {
  return static_cast<long>(send(static_cast<int>(socket_), bytes, count, MSG_NOSIGNAL));
}

long RawClient::ReceiveSome(char* buffer, std::size_t capacity) {
  return static_cast<long>(recv(static_cast<int>(socket_), buffer, capacity, 0));
}

std::uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

PortHolder::PortHolder(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  socket_ = static_cast<std::uintptr_t>(fd);
  const sockaddr_in address = Loopback(port);
  holding_ = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
             listen(fd, 4) == 0;
}

PortHolder::~PortHolder() {
  if (static_cast<int>(socket_) >= 0) close(static_cast<int>(socket_));
}

int OpenDescriptorCount() { return CountEntries("/proc/self/fd", 1); }
int ThreadCount() { return CountEntries("/proc/self/task", 0); }
