// ServerCore: everything the server thread works with: the listening socket's set-up, the
// registry of connections and the four socket notifications. The platform's notification
// source (notify_win32.cpp, notify_posix.cpp) owns the thread and calls the On* handlers; all of
// them run on that one thread, one at a time, so nothing here is locked but BaseUrl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "http/handler.h"
#include "http/socket.h"
#include "http/socket_owner.h"

class ClientConnection;

// The platform's thread, readiness and wake-up state; defined by the notification source.
struct ServerThread;
struct ServerThreadDeleter {
  void operator()(ServerThread* thread) const;
};

// What a read notification found about the peer's side of the stream.
enum class ReadOutcome {
  kOpen,        // everything that had arrived was read; more may come
  kPeerClosed,  // the peer has finished sending (recv gave 0)
  kFailed,      // recv failed with an error other than "would block"
};

class ServerCore {
 public:
  static constexpr std::size_t kReceiveBufferSize = 1024;

  // Every request is answered by `handler`, which must outlive the core.
  explicit ServerCore(HttpHandler& handler);
  // Frees every connection record, closing its socket. The server thread must have ended.
  ~ServerCore();
  ServerCore(const ServerCore&) = delete;
  ServerCore& operator=(const ServerCore&) = delete;

  // Platform: starts the thread and waits for it (see HttpServer::Start).
  std::string Start(std::uint32_t port);
  // Platform: ends the thread. False when it had to be left running (POSIX only).
  bool Stop();
  // Platform: the server thread's body: OpenListeningSocket, readiness, the notification loop
  // until the stop request, then the listening socket closed.
  void Run();

  // Server thread, start-up: a socket listening on 127.0.0.1 at the low 16 bits of the port
  // given to Start, or kInvalidSocket. Publishes BaseUrl step by step, so a failure leaves what
  // was reached:
  // "127.0.0.1" (or the local host's address) when binding fails, "http://ADDRESS/" when the
  // bound address cannot be read, the full "http://127.0.0.1:PORT/" otherwise.
  SocketHandle OpenListeningSocket();
  SocketHandle ListeningSocket() const { return listening_; }
  // The port the listening socket is bound to (0 before that): the one Host may name.
  std::uint16_t BoundPort() const { return boundPort_; }
  // The notification source's state, null before Start and after a completed Stop.
  ServerThread* Thread() { return thread_.get(); }

  // Server thread: the four notifications, each given the socket it is for. A notification for
  // a socket without a live record (never accepted, or already finished) does nothing.
  // OnAccept returns true when it accepted a connection; where the listening socket reports
  // connections only with their first bytes, it reads the request at once. When the process is
  // out of descriptors (or buffers), a connection is closed to make room (MakeRoomForAccept),
  // and accepting resumes once its descriptor is released (AcceptAfterRelease); with no
  // connection that may be closed, accepting pauses for a while
  // (PauseAccepting), so the waiting connection is not reported again and again.
  bool OnAccept(SocketHandle listening);
  ReadOutcome OnRead(SocketHandle socket);
  void OnWrite(SocketHandle socket);
  // Ends what is overdue at `nowMs` (SteadyClockMs): answers stalled for
  // ClientConnection::kStallMs (reset), header blocks not complete kHeadMs after the accept,
  // and drains that have run their course. Returns the
  // next deadline, 0 for none; the notification source calls it again by then.
  std::uint64_t EndOverdue(std::uint64_t nowMs);
  // An error or hang-up: the connection is retired, whatever it was sending.
  void OnClose(SocketHandle socket);
  // The peer has finished sending (an orderly half-close): what has arrived is read, and an
  // answer being sent goes on until its last byte or an error; a connection with no answer
  // under way (a draining one included) is retired.
  void OnPeerClosed(SocketHandle socket);

  // Platform: a connection stopped sending for its turn with the socket still writable; have
  // it called again (OnWrite) after the other connections' notifications. Winsock reports
  // FD_WRITE only after a send failed with "would block"; poll() reports writable sockets on
  // every round.
  void ContinueWriting(SocketHandle socket);

  // The registry: at most one record per socket handle. A record whose response has been sent,
  // or whose peer has closed, is retired: it takes no more notifications, and the notification
  // source releases it (closing its socket) once no notification queued for that handle can
  // still arrive. Until then the handle stays open, so the system cannot hand the same value to
  // a newer connection.
  ClientConnection* FindConnection(SocketHandle socket);
  ClientConnection& AddConnection(SocketHandle socket, const ConnectionEnds& ends);
  // `reset`: the close resets the stream instead of ending it in order, so the client cannot
  // mistake what it received for a whole answer.
  void Retire(ClientConnection& connection, bool reset = false);
  void Release(SocketHandle socket);  // frees the record if it is retired
  void ReleaseRetired();              // frees every retired record
  const std::map<SocketHandle, std::unique_ptr<ClientConnection>>& Connections() const {
    return connections_;
  }

  // Whether the connection's client runs under our own account (SocketOwnerCheck): only
  // such a client is answered.
  bool IsOwnAccount(const ConnectionEnds& ends) { return owners_.IsOwnAccount(ends); }

  char* ReceiveBuffer() { return receiveBuffer_; }
  HttpHandler& Handler() { return handler_; }

  // Bytes of response buffers freed since the process last gave free memory back to the
  // system (the POSIX loop does that once the server is idle; see notify_posix.cpp).
  void NoteResponseFreed(std::size_t bytes) { freedSinceTrim_ += bytes; }
  std::size_t FreedSinceTrim() const { return freedSinceTrim_; }
  void ForgetFreed() { freedSinceTrim_ = 0; }

  // BaseUrl is written by the server thread during start-up and read by Start on the main
  // thread, possibly while the thread still runs (a 10 s time-out), hence the lock.
  std::string BaseUrl() const;
  void SetBaseUrl(const std::string& url);

 private:
  // Platform: stop delivering notifications for a retired socket and arrange its Release.
  void ScheduleRelease(SocketHandle socket);
  // Platform: stop watching the listening socket for a short while (accept ran out of
  // descriptors; the connection waits in the backlog and would otherwise be reported at once
  // again and again).
  void PauseAccepting();
  // Platform: accept again as soon as a retired record has been released (its descriptor given
  // back), without waiting for a new accept notification.
  void AcceptAfterRelease();
  // Frees a descriptor for the connection waiting in the backlog: of the connections still
  // waiting for their header block the least recently moved is retired; when there is none,
  // of the answers whose client has taken nothing for ClientConnection::kIdleBeforeRoomMs (and
  // drains) the least recently moved, an answer still pending reset. One still waiting for its
  // header block is read first; if that completes its request it is answered instead (and may
  // finish at once), and the next is looked at. True when a record was retired, so its
  // descriptor comes free at its release.
  bool MakeRoomForAccept();

  // Runs a handler; an exception that escapes one (memory) closes that connection instead of
  // ending the server thread.
  template <typename Work>
  void Guarded(ClientConnection& connection, Work work);

  HttpHandler& handler_;
  SocketOwnerCheck owners_;
  std::map<SocketHandle, std::unique_ptr<ClientConnection>> connections_;
  char receiveBuffer_[kReceiveBufferSize];  // shared by every read: one thread reads
  mutable std::mutex baseUrlLock_;
  std::string baseUrl_;
  std::uint32_t port_ = 0;                   // as given to Start
  std::uint64_t acceptedCount_ = 0;          // numbers the connections in accept order
  std::size_t freedSinceTrim_ = 0;           // server thread only
  SocketHandle listening_ = kInvalidSocket;  // written and read by the server thread only
  bool readOnAccept_ = false;                // connections are reported with their request
  std::uint16_t boundPort_ = 0;              // likewise
  std::unique_ptr<ServerThread, ServerThreadDeleter> thread_;  // created by Start
};
