// The owner of a loopback client socket on Windows: the TCP table's row for the client's end
// (GetExtendedTcpTable with owning process ids), then that process's token user against ours.
// A client's dual-stack socket connected to ::ffff:127.0.0.1 is looked for in the IPv6 table.
// No process id is remembered: one alone can be reused by another account's process. The
// table lists every TCP socket of the machine (Wine builds it from /proc at some cost, and
// finds a process's socket only once that process has used it, e.g. sent its request).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "http/socket_owner.h"
#include "http/steady_clock.h"
#include "text/text.h"

namespace {

// A token's user: TOKEN_USER and the SID it points into.
struct TokenUserBuffer {
  alignas(TOKEN_USER) unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  PSID Sid() { return reinterpret_cast<TOKEN_USER*>(bytes)->User.Sid; }
};

bool ReadTokenUser(HANDLE process, TokenUserBuffer* user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  DWORD length = 0;
  const bool read = GetTokenInformation(token, TokenUser, user->bytes, sizeof user->bytes, &length) != 0;
  CloseHandle(token);
  return read;
}

// The client socket's state: connected, or closing with its process still holding it (not a
// listener, TIME_WAIT or a connection still being made).
bool IsConnectedState(DWORD state) {
  return state >= MIB_TCP_STATE_ESTAB && state <= MIB_TCP_STATE_LAST_ACK;
}

// Ports in the tables are in network order in the low 16 bits.
bool SamePort(DWORD tablePort, std::uint16_t port) { return (tablePort & 0xFFFF) == htons(port); }

bool SameMapped(const UCHAR (&address)[16], std::uint32_t ipv4) {
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  const std::uint32_t network = htonl(ipv4);
  return std::memcmp(address, kMapped, sizeof kMapped) == 0 && std::memcmp(address + 12, &network, 4) == 0;
}

}  // namespace

struct SocketOwnerCheck::State {
  std::vector<unsigned char> table;  // the last table read; grown as the system asks
  ULONG tableFamily = AF_UNSPEC;
  std::uint64_t tableMs = 0;  // when the last IPv4 table was read (SteadyClockMs)
  TokenUserBuffer account;
  bool accountKnown = false;

  // Reads the table of `family` and `kind` into `table`; false when it cannot be read.
  bool ReadTable(ULONG family, TCP_TABLE_CLASS kind) {
    tableFamily = AF_UNSPEC;
    for (int tries = 0; tries < 4; ++tries) {
      DWORD size = static_cast<DWORD>(table.size());
      const DWORD result = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, family, kind, 0);
      if (result == NO_ERROR) {
        tableFamily = family;
        return true;
      }
      if (result != ERROR_INSUFFICIENT_BUFFER) break;
      table.resize(size + size / 4 + 4096);  // connections come and go between the calls
    }
    DebugLog("the TCP table could not be read\n");
    return false;
  }

  // The client's row in the IPv4 table read last: its owning process, 0 when the socket is
  // not connected; `*found` false when there is no row for it.
  DWORD FindInIpv4(const ConnectionEnds& ends, bool* found) const {
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = rows->table[i];
      if (SamePort(row.dwLocalPort, ends.client.port) && SamePort(row.dwRemotePort, ends.server.port) &&
          row.dwLocalAddr == htonl(ends.client.address) && row.dwRemoteAddr == htonl(ends.server.address)) {
        *found = true;
        return IsConnectedState(row.dwState) ? row.dwOwningPid : 0;
      }
    }
    *found = false;
    return 0;
  }

  DWORD FindInIpv6(const ConnectionEnds& ends) const {
    const auto* rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
      const MIB_TCP6ROW_OWNER_PID& row = rows->table[i];
      if (SamePort(row.dwLocalPort, ends.client.port) && SamePort(row.dwRemotePort, ends.server.port) &&
          SameMapped(row.ucLocalAddr, ends.client.address) && SameMapped(row.ucRemoteAddr, ends.server.address)) {
        return IsConnectedState(row.dwState) ? row.dwOwningPid : 0;
      }
    }
    return 0;
  }

  // The process that owns the client's end of the connection, or 0. An IPv4 table read after
  // the connection was accepted lists its client's socket as it is, whatever came later (the
  // connection holds its addresses until it ends), so a burst of connections shares one
  // reading; a table read before could show an earlier connection of the same addresses.
  DWORD OwningProcess(const ConnectionEnds& ends) {
    bool found = false;
    if (tableFamily == AF_INET && ends.acceptedMs != 0 && tableMs > ends.acceptedMs) {
      const DWORD pid = FindInIpv4(ends, &found);
      if (pid != 0) return pid;
    }
    // Connected sockets first: Wine finds the owner of every row it lists, at a cost, and
    // lists only established ones there; a client that has half-closed is in the whole table.
    for (const TCP_TABLE_CLASS kind : {TCP_TABLE_OWNER_PID_CONNECTIONS, TCP_TABLE_OWNER_PID_ALL}) {
      const std::uint64_t now = SteadyClockMs();
      if (!ReadTable(AF_INET, kind)) continue;
      tableMs = now;
      const DWORD pid = FindInIpv4(ends, &found);
      if (found) return pid;
    }
    return ReadTable(AF_INET6, TCP_TABLE_OWNER_PID_ALL) ? FindInIpv6(ends) : 0;
  }
};

SocketOwnerCheck::SocketOwnerCheck() : state_(std::make_unique<State>()) {
  state_->accountKnown = ReadTokenUser(GetCurrentProcess(), &state_->account);
  if (!state_->accountKnown) DebugLog("our own account is unknown: every client is refused\n");
}

SocketOwnerCheck::~SocketOwnerCheck() = default;

bool SocketOwnerCheck::IsOwnAccount(const ConnectionEnds& ends) {
  if (!state_->accountKnown) return false;
  const DWORD pid = state_->OwningProcess(ends);
  if (pid == 0) return false;
  if (pid == GetCurrentProcessId()) return true;
  // Another account's process cannot usually be opened at all; that counts as theirs too.
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return false;
  TokenUserBuffer user;
  const bool read = ReadTokenUser(process, &user);
  CloseHandle(process);
  return read && EqualSid(user.Sid(), state_->account.Sid());
}
