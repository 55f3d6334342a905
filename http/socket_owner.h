// SocketOwnerCheck: whether the client of a loopback connection runs under this process's own
// account. Other accounts of the same machine reach 127.0.0.1 too, so the server answers a
// connection only when the system names our account as the owner of the client's end, found
// by the connection's addresses and ports: Linux asks the socket-diagnostics netlink service
// (the client socket's owner; a socket whose process has closed it has none), Windows the TCP
// table (the client's owning process, then that process's user). An owner that cannot be
// found counts as another account's. Nothing is cached that could name the wrong owner.
#pragma once

#include <cstdint>
#include <memory>

#include "http/socket.h"

// The two ends of an accepted TCP connection: the client's, and the server's own; and when it
// was accepted (SteadyClockMs; 0 for unknown), so that a lookup made since may answer for it.
struct ConnectionEnds {
  Ipv4Endpoint client;
  Ipv4Endpoint server;
  std::uint64_t acceptedMs = 0;
};

class SocketOwnerCheck {
 public:
  // Opens what the lookups need (Linux: one netlink socket, kept for the object's life); a
  // failure is logged, and every later check then answers false.
  SocketOwnerCheck();
  ~SocketOwnerCheck();
  SocketOwnerCheck(const SocketOwnerCheck&) = delete;
  SocketOwnerCheck& operator=(const SocketOwnerCheck&) = delete;

  // True only when the client's end of the connection is known to belong to this process's
  // account. One thread at a time.
  bool IsOwnAccount(const ConnectionEnds& ends);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
