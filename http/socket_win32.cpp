// Windows Sockets 2 for the server. Sockets become non-blocking when WSAAsyncSelect registers
// them, and accepted sockets inherit that registration.
#include <winsock2.h>
#include <windows.h>

#include <climits>
#include <cstring>

#include "http/socket.h"

int StartSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data);
}

void CleanupSockets() { WSACleanup(); }

int SocketError() { return WSAGetLastError(); }

bool IsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }

SocketHandle CreateTcpSocket() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool SetListeningAddressUse(SocketHandle socket) {
  const int one = 1;
  return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                    reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

bool BindLoopback(SocketHandle socket, std::uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  return bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&address),
              sizeof address) == 0;
}

bool GetBoundAddress(SocketHandle socket, std::string* text, std::uint16_t* port) {
  sockaddr_in address = {};
  int length = sizeof address;
  if (getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return false;
  *text = inet_ntoa(address.sin_addr);
  *port = ntohs(address.sin_port);
  return true;
}

std::string LocalHostAddress() {
  const hostent* host = gethostbyname("");
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0])
    return std::string();
  in_addr address;
  memcpy(&address, host->h_addr_list[0], sizeof address);
  return inet_ntoa(address);
}

bool ListenForConnections(SocketHandle socket) {
  return listen(static_cast<SOCKET>(socket), SOMAXCONN) == 0;
}

bool DeferAcceptUntilData(SocketHandle) { return false; }

SocketHandle AcceptConnection(SocketHandle listening, bool* exhausted, Ipv4Endpoint* peer) {
  *exhausted = false;
  sockaddr_in address = {};
  int length = sizeof address;
  const SOCKET s = accept(static_cast<SOCKET>(listening), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    *exhausted = error == WSAEMFILE || error == WSAENOBUFS;
    return kInvalidSocket;
  }
  peer->address = ntohl(address.sin_addr.s_addr);
  peer->port = ntohs(address.sin_port);
  return static_cast<SocketHandle>(s);
}

long Receive(SocketHandle socket, char* buffer, std::size_t capacity) {
  const int n = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  return recv(static_cast<SOCKET>(socket), buffer, n, 0);
}

long Send(SocketHandle socket, const char* data, std::size_t length) {
  const int n = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  return send(static_cast<SOCKET>(socket), data, n, 0);
}

long SendFileRange(SocketHandle socket, std::intptr_t file, std::uint64_t offset, std::size_t count,
                   std::uint64_t) {
  // One buffer for every connection: only the server thread sends. Bytes the socket does not
  // take are read again on the next call, from their own offset.
  static char buffer[64 * 1024];
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD want = count < sizeof buffer ? static_cast<DWORD>(count) : static_cast<DWORD>(sizeof buffer);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, want, &got, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    WSASetLastError(WSAEINVAL);  // not the socket's fault: ends the connection
    return -1;
  }
  if (got == 0) return 0;
  return Send(socket, buffer, got);
}

void SetAbortiveClose(SocketHandle socket) {
  linger option = {};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
             sizeof option);
}

long SendWithMore(SocketHandle socket, const char* data, std::size_t length) {
  return Send(socket, data, length);  // Winsock has no such flag
}

long SendTwo(SocketHandle socket, const char* first, std::size_t firstLength, const char* second,
             std::size_t secondLength) {
  WSABUF parts[2] = {{static_cast<u_long>(firstLength), const_cast<char*>(first)},
                     {static_cast<u_long>(secondLength), const_cast<char*>(second)}};
  DWORD sent = 0;
  if (WSASend(static_cast<SOCKET>(socket), parts, 2, &sent, 0, nullptr, nullptr) != 0) return -1;
  return static_cast<long>(sent);
}

// Winsock cannot say what the peer has acknowledged: every answer ends with the drain.
bool SendQueueEmpty(SocketHandle) { return false; }
long SendQueueBytes(SocketHandle) { return -1; }

void ShutdownSend(SocketHandle socket) { shutdown(static_cast<SOCKET>(socket), SD_SEND); }

void CloseSocket(SocketHandle socket) { closesocket(static_cast<SOCKET>(socket)); }
