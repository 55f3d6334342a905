// ClientConnection: one accepted socket, carrying one request and one answer. It gathers the
// request until its header block is complete, has the server's handler answer it, and sends
// the answer in as many pieces as the socket takes; the server closes the connection after the
// last byte. A body leaves as the socket drains: the connection holds at most one piece of it
// (kStreamChunk) whatever its size. Bytes the client sends after its request are read and
// dropped; closing a socket with such bytes unread would reset it and could cut the answer
// short, so an answer not known to be acknowledged ends with a half-close and a brief drain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "http/handler.h"
#include "http/server_core.h"
#include "http/socket.h"

// The answer being sent: `head` first (`sent` of its bytes are gone), then `body`.
struct PendingResponse {
  std::string head;
  std::size_t sent = 0;
  HttpBody body;
  std::uint64_t bodySent = 0;
  std::size_t tailSent = 0;  // of body.tail, after the body
  // A stream's piece read but not yet sent: [chunkStart, chunkEnd) of `chunk`.
  std::unique_ptr<char[]> chunk;
  std::size_t chunkStart = 0;
  std::size_t chunkEnd = 0;
  std::size_t chunkSize = 0;  // allocated bytes of `chunk`
};

class ClientConnection {
 public:
  // The longest header block gathered; one that has not ended by then is answered 501.
  static constexpr std::size_t kMaxHeaderBlock = 64 * 1024;
  // The largest request body taken (a POST's); a longer one is answered 413.
  static constexpr std::uint64_t kMaxRequestBody = 8 * 1024 * 1024;
  // The largest piece of a streamed body read at once (a smaller body gets a piece of its own
  // size): large pieces let a checked reader read and check in few calls.
  static constexpr std::size_t kStreamChunk = 1024 * 1024;
  // Body bytes sent per write notification, so that a large answer leaves the server thread to
  // the other connections after a few milliseconds at most (inflating included); the rest
  // goes on the next turn.
  static constexpr std::uint64_t kBodyBytesPerTurn = 1024 * 1024;
  // An answer whose client takes nothing (and whose body needs no work) for this long is ended.
  static constexpr std::uint64_t kStallMs = 60 * 1000;
  // A connection whose header block has not ended this long after it was accepted is closed:
  // a client that trickles a byte now and then holds no descriptor for long.
  static constexpr std::uint64_t kHeadMs = 10 * 1000;
  // When descriptors run out, an answer whose client has taken nothing for this long may be
  // ended to make room; one read more recently, however slowly, never is.
  static constexpr std::uint64_t kIdleBeforeRoomMs = 1000;
  // After the last byte and the half-close, how long the client has to close its side.
  static constexpr std::uint64_t kDrainMs = 2 * 1000;

  // `ends`: the connection's addresses, by which its client's owner is found (its acceptedMs
  // is the record's creation). `order` numbers connections in the order they were accepted.
  ClientConnection(ServerCore& server, SocketHandle socket, const ConnectionEnds& ends, std::uint64_t order);
  ~ClientConnection();  // closes the socket; drops any pending response
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  SocketHandle Socket() const { return socket_; }
  bool HasPending() const { return pending_ != nullptr; }
  bool IsRetired() const { return retired_; }
  bool IsAnswered() const { return answered_; }
  std::uint64_t Order() const { return order_; }
  // Nothing answered yet: the header block (or a POST's body after it) is still arriving, so
  // closing it loses no answer.
  bool IsAwaitingHeader() const { return !answered_ && !retired_; }
  // The answer has left; the half-closed socket is read and dropped until the client closes.
  bool IsDraining() const { return draining_; }
  // When something last moved: the accept, bytes the client took, or work done on the body
  // (steady-clock ms, SteadyClockMs). Bytes the client sends are no progress: a client that
  // sends and never reads must not look busy.
  std::uint64_t LastProgressMs() const { return lastProgressMs_; }
  // When the connection is to be ended unless it moves before: the end of the drain, kHeadMs
  // after the accept while the header block (or a POST's body) is still arriving, or the stall
  // limit of a pending answer; 0 for none.
  std::uint64_t DeadlineMs() const;
  // Where the system tells what the client has acknowledged (SendQueueBytes): when bytes left
  // the send queue since the last look, the client took them, which is progress at `nowMs`.
  // Called where progress decides (a stall, room for a new connection): a client reading
  // slowly from full buffers takes bytes long before the server can send it more.
  void LookForProgress(std::uint64_t nowMs);
  // Takes no more notifications; the request and any pending response are dropped.
  void MarkRetired();
  // The peer has finished sending (a half-close); the answer still goes out, and nothing more
  // is read.
  void NotePeerClosed() { peerClosed_ = true; }
  bool PeerClosed() const { return peerClosed_; }

  // Reads what has arrived (at most a bounded amount per call, so one fast sender cannot hold
  // the thread). Bytes are appended to the request until the header block ends with
  // "\r\n\r\n" (or reaches kMaxHeaderBlock), then to its body until Content-Length bytes have
  // come; then the connection is answered once, and later bytes are read and dropped.
  ReadOutcome ReadRequest();

  // Answers the header block: 403 when the client runs under another account (or one that
  // cannot be found; looked up here rather than at accept: by now the client has sent, so its
  // process holds its socket), 501 when ParseRequest refuses it, 421 when it names another host
  // than this server's (IsOwnHost); for a body, 411 when it is sent chunked, 400 for a malformed
  // length and 413 past kMaxRequestBody; else the handler's answer, once the body (`after` holds
  // its first bytes) has come whole.
  void HandleRequest(std::string_view block, std::string_view after = {});

  // Makes `answer` the pending response (replacing any) and sends what the socket takes now.
  void QueueAnswer(HttpAnswer answer);
  // Sends on as far as the socket takes it, at most kBodyBytesPerTurn of body; retires the
  // connection after the last byte, and ends it abortively when the body cannot be produced.
  void SendPending();
  // Sends StatusAnswer(statusText).
  void SendStatus(const char* statusText);

 private:
  // Takes received bytes into the request while its header block is still open; answers it
  // once the block is complete. A block that arrives whole in one read is parsed where it
  // lies, without a copy.
  void Collect(const char* bytes, std::size_t count);
  // Takes received bytes into the body of `awaiting_`; answers it once the body is whole.
  void TakeBody(std::string_view bytes);
  // The answer's last byte has been handed to the system: close, or half-close and drain.
  void FinishAnswer();
  // Makes the next piece of a streamed body: kLater when the stream asked for another turn
  // first (the connection is called again), kEnded when the connection was ended abortively.
  enum class ChunkState { kReady, kLater, kEnded };
  ChunkState FillChunk(PendingResponse& response);
  // Sends body bytes until the socket refuses, the body ends or the turn's share is used.
  // False when the connection was ended (an error, or the body failed).
  bool SendBody(PendingResponse& response);
  // Sends the body's tail after it; false while some of it is still to go (or on an error).
  bool SendTail(PendingResponse& response);
  // Ends the connection with a reset instead of an orderly close: its client must not take
  // what it received for the whole answer.
  void Abort(const char* why);
  // `count` bytes went to the socket: progress, and bytes for the next LookForProgress.
  void NoteSent(long count);
  // Frees the pending response, telling the server how much memory that gave back.
  void DropPending();

  ServerCore& server_;
  const SocketHandle socket_;
  ConnectionEnds ends_;
  const std::uint64_t order_;
  std::string request_;
  bool headerComplete_ = false;  // request_ holds a whole header block, through "\r\n\r\n"
  bool answered_ = false;        // this connection's one answer has been given
  bool retired_ = false;
  bool peerClosed_ = false;
  bool draining_ = false;
  bool extraBytes_ = false;  // the client sent bytes after its header block
  const std::uint64_t acceptedMs_;
  std::uint64_t lastProgressMs_;
  std::uint64_t drainUntilMs_ = 0;
  long queuedAtLook_ = -1;           // SendQueueBytes at the last LookForProgress
  std::uint64_t sentSinceLook_ = 0;  // bytes sent since then
  std::unique_ptr<PendingResponse> pending_;
  std::unique_ptr<HttpRequest> awaiting_;  // a request whose body is still arriving
};
