// The few socket calls the server makes, behind names that are the same for Winsock and BSD
// sockets. Each returns its platform's result unchanged in meaning; errors are the platform's
// codes (WSAGetLastError or errno) as SocketError() reports them right after the failing call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // SOCKET: pointer-sized, 64 bits on Win64
#else
using SocketHandle = int;
#endif

constexpr SocketHandle kInvalidSocket = static_cast<SocketHandle>(~static_cast<SocketHandle>(0));

// An IPv4 address and a port, both in host order (127.0.0.1 is 0x7F000001).
struct Ipv4Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Windows Sockets start-up (version 2.0) and clean-up; nothing to do on POSIX. StartSockets
// returns 0 on success, else the start-up's error result.
int StartSockets();
void CleanupSockets();

// The error code of the calling thread's last failed socket call.
int SocketError();
// True for "nothing to read yet" / "send buffer full" (WSAEWOULDBLOCK, EAGAIN).
bool IsWouldBlock(int error);

// A TCP/IPv4 socket, or kInvalidSocket. On POSIX it is non-blocking and close-on-exec; on
// Windows WSAAsyncSelect makes it non-blocking.
SocketHandle CreateTcpSocket();
// How the listening socket shares its address. POSIX: SO_REUSEADDR, so a restart can bind a
// port whose last connections are still in TIME_WAIT (a second listener is refused anyway).
// Windows: SO_EXCLUSIVEADDRUSE, so no second server can bind the port this one listens on
// (with SO_REUSEADDR it could, and which one answers would be undefined).
bool SetListeningAddressUse(SocketHandle socket);
// Binds to 127.0.0.1 at `port`.
bool BindLoopback(SocketHandle socket, std::uint16_t port);
// The bound address as dotted text and the port in host order.
bool GetBoundAddress(SocketHandle socket, std::string* address, std::uint16_t* port);
// The dotted text of the local host's first address, or "" when there is none to report.
std::string LocalHostAddress();
bool ListenForConnections(SocketHandle socket);
// Where the system can (Linux: TCP_DEFER_ACCEPT), the listening socket reports a connection
// only once its first bytes have arrived, so reading right after accept finds the request
// instead of "would block". True when that is in effect.
bool DeferAcceptUntilData(SocketHandle listening);

// One accepted connection (non-blocking, as the listening socket) and the client's address in
// `*peer`, or kInvalidSocket. On failure `*exhausted` tells whether the process or system ran
// out of descriptors or buffers, in which case the pending connection stays queued and
// accepting should pause.
SocketHandle AcceptConnection(SocketHandle listening, bool* exhausted, Ipv4Endpoint* peer);

// recv/send with flags 0 (send never raises SIGPIPE): the byte count, 0 for the peer's orderly
// shutdown (Receive), or -1 with SocketError() set.
long Receive(SocketHandle socket, char* buffer, std::size_t capacity);
long Send(SocketHandle socket, const char* data, std::size_t length);
// The same for bytes that more will follow at once (an answer's head before its body): where
// the system allows (MSG_MORE), they wait to leave in full packets with what follows, so a
// small head does not go out alone and hold the body back behind its acknowledgement.
long SendWithMore(SocketHandle socket, const char* data, std::size_t length);
// `first` then `second` in one call (a head and the start of its body): the count sent of both
// together, or -1 with SocketError() set.
long SendTwo(SocketHandle socket, const char* first, std::size_t firstLength, const char* second,
             std::size_t secondLength);

// Sends up to `count` bytes of the file `file` (POSIX descriptor, Windows HANDLE) from
// `offset`, without moving any file position: the count sent, 0 when the file has no byte at
// `offset` (it is shorter than expected), or -1 with SocketError() set ("would block"
// included). `answered`: the bytes of this answer sent before. Windows: a positional read into
// one reused 64 KiB buffer of the server thread, then send. POSIX: up to 256 KiB per call,
// copied through one buffer of the server thread as on Windows; past an answer's first MiB, by
// sendfile while the client reads as fast as the socket fills (Linux).
long SendFileRange(SocketHandle socket, std::intptr_t file, std::uint64_t offset, std::size_t count,
                   std::uint64_t answered);

// Makes the socket's close reset the connection (SO_LINGER with a zero time) instead of ending
// the stream in order; what is still unsent is dropped.
void SetAbortiveClose(SocketHandle socket);

// True when the peer has acknowledged every byte sent so far, so a close can no longer cut
// anything short (Linux: SIOCOUTQ; on loopback a send within the peer's window is
// acknowledged before it returns). False where the system cannot tell.
bool SendQueueEmpty(SocketHandle socket);
// How many bytes sent so far the peer has not acknowledged yet (Linux: SIOCOUTQ); -1 where the
// system cannot tell.
long SendQueueBytes(SocketHandle socket);

// Ends our sending direction (the peer sees the end of the stream after what was sent).
void ShutdownSend(SocketHandle socket);
void CloseSocket(SocketHandle socket);
