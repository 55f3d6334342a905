#include "http/connection.h"

#include <algorithm>
#include <cstring>

#include "http/request.h"
#include "http/steady_clock.h"
#include "text/text.h"

namespace {

// Reads per read notification: enough for the largest header block, few enough that a client
// that never stops sending leaves time for the others. What is left is reported again.
constexpr int kReadsPerNotification = 2 * ClientConnection::kMaxHeaderBlock / ServerCore::kReceiveBufferSize;

}  // namespace

ClientConnection::ClientConnection(ServerCore& server, SocketHandle socket, const ConnectionEnds& ends,
                                   std::uint64_t order)
    : server_(server), socket_(socket), ends_(ends), order_(order), acceptedMs_(SteadyClockMs()),
      lastProgressMs_(acceptedMs_) {
  ends_.acceptedMs = acceptedMs_;
  DebugLog("<Client>\n");
}

ClientConnection::~ClientConnection() { CloseSocket(socket_); }

void ClientConnection::MarkRetired() {
  retired_ = true;
  DropPending();
  awaiting_.reset();
  std::string().swap(request_);
}

std::uint64_t ClientConnection::DeadlineMs() const {
  if (draining_) return drainUntilMs_;
  if (IsAwaitingHeader()) return acceptedMs_ + kHeadMs;  // the header block, or a POST's body after it
  return pending_ ? lastProgressMs_ + kStallMs : 0;
}

ReadOutcome ClientConnection::ReadRequest() {
  char* buffer = server_.ReceiveBuffer();
  for (int reads = 0; reads < kReadsPerNotification && !retired_; ++reads) {
    const long n = Receive(socket_, buffer, ServerCore::kReceiveBufferSize);
    if (n > 0) {
      if (awaiting_) {
        TakeBody(std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (answered_) {
        extraBytes_ = true;  // dropped
      } else {
        Collect(buffer, static_cast<std::size_t>(n));
      }
      // A read that did not fill the buffer took everything that had arrived: asking again
      // would only be told "would block".
      if (static_cast<std::size_t>(n) < ServerCore::kReceiveBufferSize) break;
      continue;
    }
    if (n == 0) {
      DebugLog("received all data\n");
      peerClosed_ = true;
      return ReadOutcome::kPeerClosed;
    }
    const int error = SocketError();
    if (IsWouldBlock(error)) {
      DebugLog("received all data\n");
      break;
    }
    DebugLog("FD_READ:SOCKET_ERROR %lu\n", static_cast<unsigned long>(error));
    return ReadOutcome::kFailed;
  }
  return ReadOutcome::kOpen;
}

void ClientConnection::Collect(const char* bytes, std::size_t count) {
  const std::string_view received(bytes, count);
  if (request_.empty()) {
    const std::size_t end = received.find("\r\n\r\n");
    if (end != std::string_view::npos) {
      // The usual case: the whole block in one read, parsed in the receive buffer.
      headerComplete_ = true;
      extraBytes_ = end + 4 < count;
      HandleRequest(received.substr(0, end + 4), received.substr(end + 4));
      return;
    }
  }
  const std::size_t take = std::min(count, kMaxHeaderBlock - request_.size());
  // The end of the block may straddle the previous piece: look from three bytes before it.
  const std::size_t from = request_.size() >= 3 ? request_.size() - 3 : 0;
  request_.append(bytes, take);
  const std::size_t end = request_.find("\r\n\r\n", from);
  if (end != std::string::npos) {
    headerComplete_ = true;
    extraBytes_ = end + 4 < request_.size() || take < count;
    // What follows the header block is a body's start, or dropped.
    const std::string after = request_.substr(end + 4) + std::string(bytes + take, count - take);
    request_.resize(end + 4);
    HandleRequest(request_, after);
  } else if (request_.size() >= kMaxHeaderBlock) {
    answered_ = true;
    extraBytes_ = true;  // the rest of the block is still on its way
    SendStatus("501 Not Implemented");
  }
}

void ClientConnection::HandleRequest(std::string_view block, std::string_view after) {
  answered_ = true;
  if (!server_.IsOwnAccount(ends_)) {
    DebugLog("client of another account -> 403\n\n");
    SendStatus("403 Forbidden");
    return;
  }
  HttpRequest request;
  if (!ParseRequest(block, &request)) {
    SendStatus("501 Not Implemented");
    return;
  }
  if (!IsOwnHost(request, server_.BoundPort())) {
    DebugLog("Host %s is not ours -> 421\n\n", request.host.c_str());
    SendStatus("421 Misdirected Request");
    return;
  }
  if (request.chunked) {
    SendStatus("411 Length Required");
    return;
  }
  if (request.badLength) {
    SendStatus("400 Bad Request");
    return;
  }
  if (request.contentLength > kMaxRequestBody) {
    SendStatus("413 Content Too Large");
    return;
  }
  if (request.contentLength > 0) {
    answered_ = false;
    extraBytes_ = false;
    awaiting_ = std::make_unique<HttpRequest>(std::move(request));
    TakeBody(after);
    return;
  }
  QueueAnswer(server_.Handler().Answer(request));
}

void ClientConnection::TakeBody(std::string_view bytes) {
  std::string& body = awaiting_->body;
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), awaiting_->contentLength - body.size()));
  body.append(bytes.data(), take);
  if (take < bytes.size()) extraBytes_ = true;  // dropped
  if (body.size() < awaiting_->contentLength) return;
  const std::unique_ptr<HttpRequest> request = std::move(awaiting_);
  answered_ = true;
  QueueAnswer(server_.Handler().Answer(*request));
}

void ClientConnection::QueueAnswer(HttpAnswer answer) {
  DropPending();
  pending_ = std::make_unique<PendingResponse>();
  pending_->head = std::move(answer.head);
  pending_->body = std::move(answer.body);
  if (pending_->body.kind == HttpBody::Kind::kNone) pending_->body.length = 0;
  SendPending();
}

void ClientConnection::SendPending() {
  if (!pending_ || retired_) return;  // e.g. the writable report right after accept
  PendingResponse& response = *pending_;
  HttpBody& body = response.body;
  // A streamed body's first piece is made before the head leaves, so both go in one call.
  if (response.sent == 0 && body.kind == HttpBody::Kind::kStream && body.length > 0 &&
      response.chunkEnd == 0 && FillChunk(response) != ChunkState::kReady) {
    return;
  }
  // Sends until the socket refuses: Winsock reports FD_WRITE again only after a send has
  // failed with "would block", never after one that took just part of the bytes.
  while (response.sent < response.head.size()) {
    const char* from = response.head.data() + response.sent;
    const std::size_t count = response.head.size() - response.sent;
    const char* more = nullptr;
    std::size_t moreCount = 0;
    if (body.kind == HttpBody::Kind::kMemory) {
      more = body.memory;
      moreCount = static_cast<std::size_t>(std::min(body.length, kBodyBytesPerTurn));
    } else if (body.kind == HttpBody::Kind::kStream) {
      more = response.chunk.get() + response.chunkStart;
      moreCount = response.chunkEnd - response.chunkStart;
    }
    const long n = moreCount > 0 ? SendTwo(socket_, from, count, more, moreCount)
                   : body.length > 0 ? SendWithMore(socket_, from, count)
                                     : Send(socket_, from, count);
    if (n <= 0) {
      // "Would block" included: the next write notification resumes at `sent`.
      DebugLog("send error (1): %d\n", SocketError());
      return;
    }
    NoteSent(n);
    const std::size_t ofHead = std::min(count, static_cast<std::size_t>(n));
    response.sent += ofHead;
    const std::size_t ofBody = static_cast<std::size_t>(n) - ofHead;
    response.bodySent += ofBody;
    if (body.kind == HttpBody::Kind::kStream) response.chunkStart += ofBody;
  }
  if (!SendBody(response)) return;
  if (response.bodySent < body.length || !SendTail(response)) return;
  FinishAnswer();
}

void ClientConnection::FinishAnswer() {
  DropPending();
  // Nothing can cut the answer short when the client has closed its side (everything it sent
  // has been read) or has acknowledged every byte without sending anything more.
  if (peerClosed_ || (!extraBytes_ && SendQueueEmpty(socket_))) {
    server_.Retire(*this);
    return;
  }
  ShutdownSend(socket_);
  draining_ = true;
  drainUntilMs_ = SteadyClockMs() + kDrainMs;
}

ClientConnection::ChunkState ClientConnection::FillChunk(PendingResponse& response) {
  HttpBody& body = response.body;
  const std::uint64_t left = body.length - response.bodySent;
  if (!response.chunk) {
    response.chunkSize = static_cast<std::size_t>(std::min<std::uint64_t>(body.length, kStreamChunk));
    response.chunk.reset(new char[response.chunkSize]);
  }
  std::size_t count = 0;
  try {
    lastProgressMs_ = SteadyClockMs();
    if (!body.stream->Prepare()) {
      server_.ContinueWriting(socket_);
      return ChunkState::kLater;
    }
    count = body.stream->Read(response.chunk.get(), static_cast<std::size_t>(std::min<std::uint64_t>(left, response.chunkSize)));
  } catch (...) {
    Abort("the body could not be read");
    return ChunkState::kEnded;
  }
  if (count == 0 || count > left) {
    Abort("the body is not as long as announced");
    return ChunkState::kEnded;
  }
  response.chunkStart = 0;
  response.chunkEnd = count;
  return ChunkState::kReady;
}

bool ClientConnection::SendBody(PendingResponse& response) {
  HttpBody& body = response.body;
  std::uint64_t turn = 0;
  while (response.bodySent < body.length) {
    if (turn >= kBodyBytesPerTurn) {
      server_.ContinueWriting(socket_);
      return true;
    }
    const std::uint64_t left = body.length - response.bodySent;
    const std::uint64_t share = std::min(left, kBodyBytesPerTurn - turn);
    long n = 0;
    switch (body.kind) {
      case HttpBody::Kind::kMemory:
        n = Send(socket_, body.memory + response.bodySent, static_cast<std::size_t>(share));
        break;
      case HttpBody::Kind::kFile:
        n = SendFileRange(socket_, body.file, body.offset + response.bodySent, static_cast<std::size_t>(share),
                          response.bodySent);
        if (n == 0) {
          Abort("the file ended early");
          return false;
        }
        break;
      case HttpBody::Kind::kStream:
        if (response.chunkStart == response.chunkEnd) {
          const ChunkState state = FillChunk(response);
          if (state != ChunkState::kReady) return state == ChunkState::kLater;
        }
        n = Send(socket_, response.chunk.get() + response.chunkStart, response.chunkEnd - response.chunkStart);
        if (n > 0) response.chunkStart += static_cast<std::size_t>(n);
        break;
      case HttpBody::Kind::kNone:
        return true;
    }
    if (n < 0) {
      const int error = SocketError();
      if (IsWouldBlock(error)) return true;  // the next write notification resumes here
      DebugLog("send error (2): %d\n", error);
      Abort("the body could not be sent");
      return false;
    }
    NoteSent(n);
    response.bodySent += static_cast<std::uint64_t>(n);
    turn += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool ClientConnection::SendTail(PendingResponse& response) {
  const std::string& tail = response.body.tail;
  while (response.tailSent < tail.size()) {
    const long n = Send(socket_, tail.data() + response.tailSent, tail.size() - response.tailSent);
    if (n < 0) {
      if (!IsWouldBlock(SocketError())) Abort("the body's tail could not be sent");
      return false;
    }
    NoteSent(n);
    response.tailSent += static_cast<std::size_t>(n);
  }
  return true;
}

void ClientConnection::NoteSent(long count) {
  lastProgressMs_ = SteadyClockMs();
  sentSinceLook_ += static_cast<std::uint64_t>(count);
}

void ClientConnection::LookForProgress(std::uint64_t nowMs) {
  const long queued = SendQueueBytes(socket_);
  if (queued < 0) return;
  // What left the queue since the last look: what was queued then and sent since, less what is
  // still queued.
  if (queuedAtLook_ >= 0 && static_cast<std::uint64_t>(queuedAtLook_) + sentSinceLook_ > static_cast<std::uint64_t>(queued)) {
    lastProgressMs_ = nowMs;
  }
  queuedAtLook_ = queued;
  sentSinceLook_ = 0;
}

void ClientConnection::Abort(const char* why) {
  DebugLog("connection reset: %s\n", why);
  server_.Retire(*this, true);
}

void ClientConnection::DropPending() {
  if (!pending_) return;
  server_.NoteResponseFreed(pending_->head.capacity() + pending_->chunkSize);
  pending_.reset();
}

void ClientConnection::SendStatus(const char* statusText) { QueueAnswer(StatusAnswer(statusText)); }
