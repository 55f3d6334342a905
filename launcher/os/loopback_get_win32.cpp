// Loopback HTTP client, Windows Sockets: blocking calls bounded by send and receive time-outs.
#include <winsock2.h>
#include <windows.h>

#include "launcher/os/loopback_get.h"

namespace {

constexpr std::size_t kMaxResponse = 16u << 20;

class WinsockUse {
 public:
  WinsockUse() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUse() {
    if (started_) WSACleanup();
  }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

class Socket {
 public:
  Socket() : s_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

}  // namespace

namespace os {

bool LoopbackGet(std::uint16_t port, const std::string& target, std::string& response,
                 int timeoutMs) {
  response.clear();
  WinsockUse winsock;
  if (!winsock.started()) return false;
  Socket s;
  if (s.get() == INVALID_SOCKET) return false;
  const DWORD timeout = static_cast<DWORD>(timeoutMs);
  setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  const std::string request = LoopbackRequest(port, target);
  for (std::size_t sent = 0; sent < request.size();) {
    const int n = send(s.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  char buffer[16384];
  for (;;) {
    const int n = recv(s.get(), buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return false;
    response.append(buffer, static_cast<std::size_t>(n));
    if (response.size() > kMaxResponse) return false;
    if (ResponseComplete(response)) return true;
  }
}

}  // namespace os
