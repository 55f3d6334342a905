// HttpServer and the platform-independent part of its core: the listening socket's set-up,
// the connection registry and the four socket notifications.
#include "http/server.h"

#include <algorithm>
#include <chrono>
#include <tuple>
#include <utility>
#include <vector>

#include "http/connection.h"
#include "http/server_core.h"
#include "http/steady_clock.h"
#include "text/text.h"

HttpServer::HttpServer(HttpHandler& handler)
    : handler_(handler), core_(std::make_unique<ServerCore>(handler)) {
  const int result = StartSockets();
  socketsStarted_ = result == 0;
  if (!socketsStarted_) DebugLog("Failed to initialize windows socket api (%d)\n", result);
}

HttpServer::~HttpServer() {
  Stop();
  if (abandoned_) {
    // The detached thread may still reach for its records and sockets: they stay as they are.
    static_cast<void>(core_.release());
  } else {
    core_.reset();  // every record freed and its socket closed, before Winsock goes away
  }
  if (socketsStarted_) CleanupSockets();
}

std::string HttpServer::Start(std::uint32_t port) { return core_->Start(port); }

void HttpServer::Stop() {
  if (!abandoned_ && !core_->Stop()) abandoned_ = true;
}

std::uint64_t HttpServer::LastScopedRequestMs() const { return handler_.LastActivityMs(); }

ServerCore::ServerCore(HttpHandler& handler) : handler_(handler) {}

ServerCore::~ServerCore() {
  thread_.reset();
  connections_.clear();
}

SocketHandle ServerCore::OpenListeningSocket() {
  const SocketHandle listening = CreateTcpSocket();
  if (listening == kInvalidSocket) {
    DebugLog("Error at socket(): %ld\n", static_cast<long>(SocketError()));
    return kInvalidSocket;
  }
  if (!SetListeningAddressUse(listening)) {
    DebugLog("setsockopt(address use) failed: %ld\n", static_cast<long>(SocketError()));
  }
  // Always bound to 127.0.0.1; the local host's address only shows in the text when binding
  // or reading the bound address fails.
  std::string url = "127.0.0.1";
  SetBaseUrl(url);
  const std::string host = LocalHostAddress();
  if (!host.empty()) {
    url = host;
    SetBaseUrl(url);
  }
  if (!BindLoopback(listening, static_cast<std::uint16_t>(port_ & 0xFFFF))) {
    DebugLog("bind() failed [%lu].\n", static_cast<unsigned long>(SocketError()));
    CloseSocket(listening);
    return kInvalidSocket;
  }
  std::string address;
  std::uint16_t boundPort = 0;
  if (GetBoundAddress(listening, &address, &boundPort)) {
    url = address + ":" + FormatText("%d", boundPort);
    boundPort_ = boundPort;
  }
  url = "http://" + url + "/";
  SetBaseUrl(url);
  if (!ListenForConnections(listening)) {
    DebugLog("Error listening on socket [%lu].\n", static_cast<unsigned long>(SocketError()));
    CloseSocket(listening);
    return kInvalidSocket;
  }
  readOnAccept_ = DeferAcceptUntilData(listening);
  listening_ = listening;
  return listening;
}

bool ServerCore::OnAccept(SocketHandle listening) {
  bool exhausted = false;
  ConnectionEnds ends;
  const SocketHandle socket = AcceptConnection(listening, &exhausted, &ends.client);
  if (socket == kInvalidSocket) {
    if (exhausted) {
      // The connection stays in the backlog. Room is made at the expense of a client that has
      // not even sent a whole header block (nothing of it is answered or lost), so idle
      // connections cannot keep every other client out; failing that, wait.
      if (MakeRoomForAccept()) {
        AcceptAfterRelease();
      } else {
        PauseAccepting();
      }
    }
    return false;
  }
  // Accepted on the listening socket, bound to 127.0.0.1 at BoundPort.
  ends.server = {0x7F000001u, boundPort_};
  AddConnection(socket, ends);
  // Reported only once its request had arrived: read it now rather than a round later.
  if (readOnAccept_) {
    const ReadOutcome outcome = OnRead(socket);
    if (outcome == ReadOutcome::kPeerClosed) OnPeerClosed(socket);
    if (outcome == ReadOutcome::kFailed) OnClose(socket);
  }
  return true;
}

bool ServerCore::MakeRoomForAccept() {
  // (kind, last progress, accept order, socket): connections still waiting for their header
  // block first, then answers whose client has stopped taking bytes (and drains), each kind the
  // least recently moved first. An answer being read, however slowly, is never ended for room.
  const std::uint64_t now = SteadyClockMs();
  std::vector<std::tuple<int, std::uint64_t, std::uint64_t, SocketHandle>> candidates;
  for (const auto& [socket, connection] : connections_) {
    if (connection->IsRetired()) continue;
    if (connection->HasPending()) connection->LookForProgress(now);
    const std::uint64_t moved = connection->LastProgressMs();
    if (connection->IsAwaitingHeader()) {
      candidates.emplace_back(0, moved, connection->Order(), socket);
    } else if (connection->IsDraining() || now - moved >= ClientConnection::kIdleBeforeRoomMs) {
      candidates.emplace_back(1, moved, connection->Order(), socket);
    }
  }
  std::sort(candidates.begin(), candidates.end());
  for (const auto& [kind, progress, order, socket] : candidates) {
    ClientConnection* connection = FindConnection(socket);
    if (!connection) continue;
    if (connection->IsAwaitingHeader()) {
      // What has arrived may complete its header block (a connection accepted in this round
      // has not been read yet): read it first, as its read notification would.
      const ReadOutcome outcome = OnRead(socket);
      connection = FindConnection(socket);
      if (!connection) return true;  // answered and finished, or dropped: its descriptor is free
      if (outcome == ReadOutcome::kOpen && !connection->IsAwaitingHeader()) continue;  // answered
      DebugLog("out of descriptors: closing a connection that sent no request\n");
      Retire(*connection);
      return true;
    }
    // An answer still pending is reset, so its client cannot take the part it got for all.
    DebugLog("out of descriptors: closing a connection whose client stopped reading\n");
    Retire(*connection, connection->HasPending());
    return true;
  }
  return false;
}

std::uint64_t ServerCore::EndOverdue(std::uint64_t nowMs) {
  std::uint64_t next = 0;
  for (const auto& [socket, connection] : connections_) {
    if (connection->IsRetired()) continue;
    std::uint64_t deadline = connection->DeadlineMs();
    if (deadline == 0) continue;
    if (deadline <= nowMs && connection->HasPending()) {
      connection->LookForProgress(nowMs);  // a client still taking bytes is not stalled
      deadline = connection->DeadlineMs();
    }
    if (deadline <= nowMs) {
      DebugLog(connection->HasPending()       ? "answer stalled: connection reset\n"
               : connection->IsDraining() ? "drain over: connection closed\n"
                                          : "no header block in time: connection closed\n");
      Retire(*connection, connection->HasPending());
    } else if (next == 0 || deadline < next) {
      next = deadline;
    }
  }
  return next;
}

ReadOutcome ServerCore::OnRead(SocketHandle socket) {
  ClientConnection* connection = FindConnection(socket);
  if (!connection) {
    DebugLog("no thread for socket found\n");
    return ReadOutcome::kOpen;
  }
  ReadOutcome outcome = ReadOutcome::kOpen;
  Guarded(*connection, [&] { outcome = connection->ReadRequest(); });
  return outcome;
}

void ServerCore::OnWrite(SocketHandle socket) {
  ClientConnection* connection = FindConnection(socket);
  if (!connection) {
    DebugLog("no thread for socket found\n");
    return;
  }
  Guarded(*connection, [&] { connection->SendPending(); });
}

void ServerCore::OnClose(SocketHandle socket) {
  ClientConnection* connection = FindConnection(socket);
  if (connection) Retire(*connection);
}

void ServerCore::OnPeerClosed(SocketHandle socket) {
  ClientConnection* connection = FindConnection(socket);
  if (!connection) return;
  if (!connection->PeerClosed()) {
    // Told by the system rather than by a read: what is still unread is read first (the end
    // of the request, or bytes to drop), so the close finds nothing unread.
    OnRead(socket);
    connection = FindConnection(socket);
    if (!connection) return;
    connection->NotePeerClosed();
  }
  if (!connection->HasPending()) Retire(*connection);
}

template <typename Work>
void ServerCore::Guarded(ClientConnection& connection, Work work) {
  try {
    work();
  } catch (...) {
    DebugLog("connection dropped: out of memory\n");
    if (!connection.IsRetired()) Retire(connection);
  }
}

ClientConnection* ServerCore::FindConnection(SocketHandle socket) {
  const auto found = connections_.find(socket);
  if (found == connections_.end() || found->second->IsRetired()) return nullptr;
  return found->second.get();
}

ClientConnection& ServerCore::AddConnection(SocketHandle socket, const ConnectionEnds& ends) {
  // A handle value is unique among open sockets, and a record is only freed once its socket is
  // closed; so a record found here would be one for this very socket.
  std::unique_ptr<ClientConnection>& slot = connections_[socket];
  if (!slot) slot = std::make_unique<ClientConnection>(*this, socket, ends, ++acceptedCount_);
  return *slot;
}

void ServerCore::Retire(ClientConnection& connection, bool reset) {
  connection.MarkRetired();
  if (reset) SetAbortiveClose(connection.Socket());  // the close at release resets the stream
  ScheduleRelease(connection.Socket());
}

void ServerCore::Release(SocketHandle socket) {
  const auto found = connections_.find(socket);
  if (found != connections_.end() && found->second->IsRetired()) connections_.erase(found);
}

void ServerCore::ReleaseRetired() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    it = it->second->IsRetired() ? connections_.erase(it) : std::next(it);
  }
}

std::string ServerCore::BaseUrl() const {
  std::lock_guard<std::mutex> lock(baseUrlLock_);
  return baseUrl_;
}

void ServerCore::SetBaseUrl(const std::string& url) {
  std::lock_guard<std::mutex> lock(baseUrlLock_);
  baseUrl_ = url;
}
