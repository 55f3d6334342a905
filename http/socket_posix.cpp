// BSD sockets for the server: non-blocking, close-on-exec descriptors; sends that never raise
// SIGPIPE (MSG_NOSIGNAL where it exists, SO_NOSIGPIPE elsewhere).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#include <sys/sendfile.h>
#endif

#include <cerrno>
#include <cstring>

#include "http/socket.h"

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Non-blocking and close-on-exec (the browser the launcher starts must not inherit sockets).
bool MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void SuppressSigpipe([[maybe_unused]] int fd) {
#ifdef SO_NOSIGPIPE
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
}

// accept() giving a non-blocking, close-on-exec descriptor, or -1 with errno set.
int AcceptNonBlocking(int listening, sockaddr_in* peer) {
  socklen_t length = sizeof *peer;
  sockaddr* address = reinterpret_cast<sockaddr*>(peer);
#if defined(SOCK_NONBLOCK) && defined(SOCK_CLOEXEC)
  // Linux and the BSDs set both flags in the accept itself: three calls fewer per connection.
  return accept4(listening, address, &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
#else
  const int fd = accept(listening, address, &length);
  if (fd >= 0 && !MakeNonBlocking(fd)) {
    close(fd);
    errno = EBADF;  // not a shortage of descriptors
    return -1;
  }
  return fd;
#endif
}

}  // namespace

int StartSockets() { return 0; }
void CleanupSockets() {}

int SocketError() { return errno; }

bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

SocketHandle CreateTcpSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) return kInvalidSocket;
  if (!MakeNonBlocking(fd)) {
    const int error = errno;
    close(fd);
    errno = error;
    return kInvalidSocket;
  }
  return fd;
}

bool SetListeningAddressUse(SocketHandle socket) {
  const int one = 1;
  return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

bool BindLoopback(SocketHandle socket, std::uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  return bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool GetBoundAddress(SocketHandle socket, std::string* text, std::uint16_t* port) {
  sockaddr_in address = {};
  socklen_t length = sizeof address;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  char dotted[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted)) return false;
  *text = dotted;
  *port = ntohs(address.sin_port);
  return true;
}

// Winsock answers gethostbyname("") from the machine's own configuration. Here a host-name
// lookup may go to a name server off the machine, for a text that only matters when binding
// to 127.0.0.1 has already failed; so there is nothing to report.
std::string LocalHostAddress() { return std::string(); }

bool ListenForConnections(SocketHandle socket) { return listen(socket, SOMAXCONN) == 0; }

bool DeferAcceptUntilData([[maybe_unused]] SocketHandle listening) {
#ifdef TCP_DEFER_ACCEPT
  // A connection that sends nothing for this long is reported all the same (and then waits
  // for its request like any other).
  const int seconds = 10;
  return setsockopt(listening, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds) == 0;
#else
  return false;
#endif
}

SocketHandle AcceptConnection(SocketHandle listening, bool* exhausted, Ipv4Endpoint* peer) {
  *exhausted = false;
  sockaddr_in address = {};
  const int fd = AcceptNonBlocking(listening, &address);
  if (fd < 0) {
    const int error = errno;
    *exhausted = error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
    return kInvalidSocket;
  }
  peer->address = ntohl(address.sin_addr.s_addr);
  peer->port = ntohs(address.sin_port);
  SuppressSigpipe(fd);
  return fd;
}

long Receive(SocketHandle socket, char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = recv(socket, buffer, capacity, 0);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

namespace {

long SendFlagged(SocketHandle socket, const char* data, std::size_t length, int flags) {
  for (;;) {
    const ssize_t n = send(socket, data, length, flags);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

}  // namespace

long Send(SocketHandle socket, const char* data, std::size_t length) {
  return SendFlagged(socket, data, length, kSendFlags);
}

long SendWithMore(SocketHandle socket, const char* data, std::size_t length) {
#ifdef MSG_MORE
  return SendFlagged(socket, data, length, kSendFlags | MSG_MORE);
#else
  return SendFlagged(socket, data, length, kSendFlags);
#endif
}

long SendTwo(SocketHandle socket, const char* first, std::size_t firstLength, const char* second,
             std::size_t secondLength) {
  iovec parts[2] = {{const_cast<char*>(first), firstLength}, {const_cast<char*>(second), secondLength}};
  msghdr message = {};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  for (;;) {
    const ssize_t n = sendmsg(socket, &message, kSendFlags);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

namespace {

// What one call copies at most; the bytes of an answer always copied; the queued bytes beyond
// which the reader counts as slow.
constexpr std::size_t kFilePiece = 256 * 1024;
constexpr std::uint64_t kCopiedFirst = 1024 * 1024;
constexpr int kSlowReaderQueue = 256 * 1024;

// True when the bytes already queued on the socket show a reader that keeps up with the sends.
bool ReaderKeepsUp([[maybe_unused]] SocketHandle socket) {
#if defined(__linux__) && defined(SIOCOUTQ)
  int queued = 0;
  return ioctl(socket, SIOCOUTQ, &queued) == 0 && queued < kSlowReaderQueue;
#else
  return false;
#endif
}

}  // namespace

long SendFileRange(SocketHandle socket, std::intptr_t file, std::uint64_t offset, std::size_t count,
                   [[maybe_unused]] std::uint64_t answered) {
  // On loopback, how bytes best enter the socket depends on how the client reads: one that
  // reads 64 KiB or more a call keeps the queue short, and gets page-cache pages handed over
  // (sendfile) fastest; one that reads 8 or 16 KiB (ab, wget, curl) lets the queue fill, and
  // gets copied bytes faster than pages. Answers of a MiB or less (pages, images, a player's
  // range) go faster copied whoever reads them, so the first MiB always is; after it, each call
  // looks at the queue; copies go in pieces of 256 KiB, so the look stays current. Bytes the
  // socket does not take are read again on the next call.
#ifdef __linux__
  if (answered >= kCopiedFirst && ReaderKeepsUp(socket)) {
    for (;;) {
      off_t position = static_cast<off_t>(offset);
      const ssize_t n = sendfile(socket, static_cast<int>(file), &position, count);
      if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
  }
#endif
  static char buffer[kFilePiece];
  if (count > kFilePiece) count = kFilePiece;
  ssize_t got;
  do {
    got = pread(static_cast<int>(file), buffer, count, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return got == 0 ? 0 : -1;
  return Send(socket, buffer, static_cast<std::size_t>(got));
}

void SetAbortiveClose(SocketHandle socket) {
  linger option = {};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

bool SendQueueEmpty([[maybe_unused]] SocketHandle socket) {
#ifdef SIOCOUTQ
  int unacknowledged = -1;
  return ioctl(socket, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
#else
  return false;
#endif
}

long SendQueueBytes([[maybe_unused]] SocketHandle socket) {
#ifdef SIOCOUTQ
  int unacknowledged = -1;
  return ioctl(socket, SIOCOUTQ, &unacknowledged) == 0 ? unacknowledged : -1;
#else
  return -1;
#endif
}

void ShutdownSend(SocketHandle socket) { shutdown(socket, SHUT_WR); }

void CloseSocket(SocketHandle socket) { close(socket); }
