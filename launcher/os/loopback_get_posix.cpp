// Loopback HTTP client, POSIX sockets: non-blocking connect and poll() against one deadline.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "http/steady_clock.h"
#include "launcher/os/loopback_get.h"
#include "launcher/os/spawn_posix.h"

namespace {

constexpr std::size_t kMaxResponse = 16u << 20;

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, long long deadline) {
  for (;;) {
    const long long left = deadline - static_cast<long long>(SteadyClockMs());
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

class Socket {
 public:
  Socket() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    if (fd_ >= 0) os::MakeNonBlockingCloseOnExec(fd_);
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

namespace os {

bool LoopbackGet(std::uint16_t port, const std::string& target, std::string& response,
                 int timeoutMs) {
  response.clear();
  const long long deadline = static_cast<long long>(SteadyClockMs()) + timeoutMs;
  Socket s;
  if (s.fd() < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS || !WaitFor(s.fd(), POLLOUT, deadline)) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  const std::string request = LoopbackRequest(port, target);
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = send(s.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else if (!WaitFor(s.fd(), POLLOUT, deadline)) {
      return false;
    }
  }
  char buffer[16384];
  for (;;) {
    const ssize_t n = recv(s.fd(), buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n > 0) {
      response.append(buffer, static_cast<std::size_t>(n));
      if (response.size() > kMaxResponse) return false;
      if (ResponseComplete(response)) return true;
    } else if (errno != EAGAIN && errno != EINTR) {
      return false;
    } else if (!WaitFor(s.fd(), POLLIN, deadline)) {
      return false;
    }
  }
}

}  // namespace os
