// The owner of a loopback client socket on Linux: one SOCK_DIAG_BY_FAMILY request on a netlink
// socket kept open, naming the client's socket by its four-tuple (an exact lookup, not a dump
// of every socket), answered within the send: two system calls per check. The IPv4 lookup
// also finds a client's IPv6 socket connected to ::ffff:127.0.0.1, and names it in IPv6 form.
// Where the netlink service cannot be used (a sandbox or an emulator that does not carry it),
// the kernel's connection tables in /proc/net/tcp and tcp6 give the same facts, slower.
// Other POSIX systems have no such lookup here: every client counts as another account's.
#include "http/socket_owner.h"

#ifdef __linux__
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "text/text.h"

struct SocketOwnerCheck::State {
  int netlink = -1;
  std::uint32_t sequence = 0;
  uid_t account = 0;
};

namespace {

// The client socket's state: connected, or closing with its process still holding it. Not
// TIME_WAIT or a listener (the lookup falls back to those when no connected socket matches;
// they have no owner).
bool IsConnectedState(std::uint8_t state) {
  switch (state) {
    case TCP_ESTABLISHED:
    case TCP_FIN_WAIT1:
    case TCP_FIN_WAIT2:
    case TCP_CLOSE_WAIT:
    case TCP_CLOSING:
    case TCP_LAST_ACK:
      return true;
    default:
      return false;
  }
}

// The client's socket: its own end is the source, the server's the destination. IPv6 names
// the IPv4 addresses as ::ffff:a.b.c.d.
inet_diag_sockid SocketId(const ConnectionEnds& ends, int family) {
  inet_diag_sockid id = {};
  id.idiag_sport = htons(ends.client.port);
  id.idiag_dport = htons(ends.server.port);
  const int last = family == AF_INET6 ? 3 : 0;
  if (family == AF_INET6) id.idiag_src[2] = id.idiag_dst[2] = htonl(0xFFFF);
  id.idiag_src[last] = htonl(ends.client.address);
  id.idiag_dst[last] = htonl(ends.server.address);
  id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  return id;
}

// The answer to request `sequence`, judged: the one socket found is the client's (same ports
// and addresses), connected, held by a process (a socket without one has inode 0 and reads as
// owned by root) and owned by `account`. False in `*answered` when the answer is not there.
bool JudgeAnswer(const char* bytes, long length, std::uint32_t sequence, const ConnectionEnds& ends,
                 uid_t account, bool* answered) {
  for (long at = 0; at + static_cast<long>(sizeof(nlmsghdr)) <= length;) {
    nlmsghdr header;
    std::memcpy(&header, bytes + at, sizeof header);
    if (header.nlmsg_len < sizeof header || at + static_cast<long>(header.nlmsg_len) > length) break;
    if (header.nlmsg_seq == sequence) {
      *answered = true;
      if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY || header.nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        return false;  // NLMSG_ERROR: nothing matches
      }
      inet_diag_msg found;
      std::memcpy(&found, bytes + at + NLMSG_HDRLEN, sizeof found);
      const inet_diag_sockid want = SocketId(ends, found.idiag_family);
      const bool same = found.id.idiag_sport == want.idiag_sport && found.id.idiag_dport == want.idiag_dport &&
                        std::memcmp(found.id.idiag_src, want.idiag_src, sizeof want.idiag_src) == 0 &&
                        std::memcmp(found.id.idiag_dst, want.idiag_dst, sizeof want.idiag_dst) == 0;
      return same && IsConnectedState(found.idiag_state) && found.idiag_inode != 0 && found.idiag_uid == account;
    }
    at += static_cast<long>(NLMSG_ALIGN(header.nlmsg_len));
  }
  *answered = false;
  return false;
}

// The same judgement from the kernel's table `path` (/proc/net/tcp or tcp6): a line whose local
// end is the client's and remote end the server's, connected, held by a process, ours.
// Addresses there are the socket's network-order words printed as this machine's integers.
bool OwnedInTable(const char* path, const ConnectionEnds& ends, uid_t account) {
  std::FILE* table = std::fopen(path, "re");
  if (!table) return false;
  const bool six = std::strstr(path, "tcp6") != nullptr;
  char local[64], remote[64];
  if (six) {
    std::snprintf(local, sizeof local, "0000000000000000%08X%08X:%04X", htonl(0xFFFF), htonl(ends.client.address),
                  ends.client.port);
    std::snprintf(remote, sizeof remote, "0000000000000000%08X%08X:%04X", htonl(0xFFFF), htonl(ends.server.address),
                  ends.server.port);
  } else {
    std::snprintf(local, sizeof local, "%08X:%04X", htonl(ends.client.address), ends.client.port);
    std::snprintf(remote, sizeof remote, "%08X:%04X", htonl(ends.server.address), ends.server.port);
  }
  bool own = false;
  char line[512];
  while (!own && std::fgets(line, sizeof line, table)) {
    char from[64], to[64];
    unsigned state = 0;
    unsigned long uid = 0, inode = 0;
    if (std::sscanf(line, " %*u: %63s %63s %x %*s %*s %*s %lu %*d %lu", from, to, &state, &uid, &inode) != 5) continue;
    if (std::strcmp(from, local) != 0 || std::strcmp(to, remote) != 0) continue;
    own = IsConnectedState(static_cast<std::uint8_t>(state)) && inode != 0 && uid == account;
  }
  std::fclose(table);
  return own;
}

bool OwnedInTables(const ConnectionEnds& ends, uid_t account) {
  return OwnedInTable("/proc/net/tcp", ends, account) || OwnedInTable("/proc/net/tcp6", ends, account);
}

}  // namespace

SocketOwnerCheck::SocketOwnerCheck() : state_(std::make_unique<State>()) {
  state_->account = geteuid();
  state_->netlink = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (state_->netlink < 0) DebugLog("no socket diagnostics (%d): the connection tables are read\n", errno);
}

SocketOwnerCheck::~SocketOwnerCheck() {
  if (state_->netlink >= 0) close(state_->netlink);
}

bool SocketOwnerCheck::IsOwnAccount(const ConnectionEnds& ends) {
  const int netlink = state_->netlink;
  if (netlink < 0) return OwnedInTables(ends, state_->account);
  const std::uint32_t sequence = ++state_->sequence;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message = {};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.header.nlmsg_seq = sequence;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  message.request.id = SocketId(ends, AF_INET);
  if (send(netlink, &message, sizeof message, 0) != static_cast<ssize_t>(sizeof message)) {
    DebugLog("socket diagnostics request failed (%d)\n", errno);
    return OwnedInTables(ends, state_->account);
  }
  // The kernel answers within the send; what is not there now is not coming. Answers to
  // earlier requests (none is expected) are skipped by their sequence numbers.
  alignas(nlmsghdr) char answer[4096];
  for (int reads = 0; reads < 4; ++reads) {
    const ssize_t n = recv(netlink, answer, sizeof answer, MSG_DONTWAIT);
    if (n <= 0) break;
    bool answered = false;
    const bool own = JudgeAnswer(answer, n, sequence, ends, state_->account, &answered);
    if (answered) return own;
  }
  DebugLog("socket diagnostics gave no answer\n");
  return OwnedInTables(ends, state_->account);
}

#else

struct SocketOwnerCheck::State {};

SocketOwnerCheck::SocketOwnerCheck() : state_(std::make_unique<State>()) {}
SocketOwnerCheck::~SocketOwnerCheck() = default;

bool SocketOwnerCheck::IsOwnAccount(const ConnectionEnds&) { return false; }

#endif
