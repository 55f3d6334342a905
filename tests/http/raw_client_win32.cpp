// Test client on Windows Sockets; nothing here counts descriptors or threads.
#include <winsock2.h>

#include "tests/http/raw_client.h"

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Each client keeps Windows Sockets started for its own life.
struct SocketsStarted {
  SocketsStarted() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~SocketsStarted() { WSACleanup(); }
};

}  // namespace

RawClient::RawClient(std::uint16_t port, int receiveBuffer) {
  static SocketsStarted started;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  socket_ = s;
  if (s == INVALID_SOCKET) return;
  if (receiveBuffer > 0) {
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
  }
  const DWORD timeoutMs = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
  const sockaddr_in address = Loopback(port);
  connected_ = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
  connected_ = false;
}

void RawClient::ShutdownSend() { shutdown(socket_, SD_SEND); }

long RawClient::SendSome(const char* bytes, std::size_t count) {
  return send(socket_, bytes, static_cast<int>(count), 0);
}

long RawClient::ReceiveSome(char* buffer, std::size_t capacity) {
  return recv(socket_, buffer, static_cast<int>(capacity), 0);
}

std::uint16_t FreePort() {
  static SocketsStarted started;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  return ntohs(address.sin_port);
}

PortHolder::PortHolder(std::uint16_t port) {
  static SocketsStarted started;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  socket_ = s;
  const sockaddr_in address = Loopback(port);
  holding_ = s != INVALID_SOCKET && bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
             listen(s, 4) == 0;
}

PortHolder::~PortHolder() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

int OpenDescriptorCount() { return -1; }
int ThreadCount() { return -1; }
