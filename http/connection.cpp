#include "http/connection.h"

#include <algorithm>
#include <cstring>

#include "http/request.h"
#include "text/text.h"

namespace {

// Reads per read notification: enough for the largest header block, few enough that a client
// that never stops sending leaves time for the others. What is left is reported again.
constexpr int kReadsPerNotification = 2 * ClientConnection::kMaxHeaderBlock / ServerCore::kReceiveBufferSize;

}  // namespace

ClientConnection::ClientConnection(ServerCore& server, SocketHandle socket, std::uint64_t order)
    : server_(server), socket_(socket), order_(order) {
  DebugLog("<Client>\n");
}

ClientConnection::~ClientConnection() { CloseSocket(socket_); }

void ClientConnection::MarkRetired() {
  retired_ = true;
  DropPending();
  std::string().swap(request_);
}

ReadOutcome ClientConnection::ReadRequest() {
  char* buffer = server_.ReceiveBuffer();
  ReadOutcome outcome = ReadOutcome::kOpen;
  for (int reads = 0; reads < kReadsPerNotification; ++reads) {
    const long n = Receive(socket_, buffer, ServerCore::kReceiveBufferSize);
    if (n > 0) {
      Collect(buffer, static_cast<std::size_t>(n));
      // A read that did not fill the buffer took everything that had arrived; once the header
      // block is complete, asking again would only be told "would block".
      if (headerComplete_ && static_cast<std::size_t>(n) < ServerCore::kReceiveBufferSize) break;
      continue;
    }
    if (n == 0) {
      DebugLog("received all data\n");
      outcome = ReadOutcome::kPeerClosed;
      break;
    }
    const int error = SocketError();
    if (IsWouldBlock(error)) {
      DebugLog("received all data\n");
      break;
    }
    DebugLog("FD_READ:SOCKET_ERROR %lu\n", static_cast<unsigned long>(error));
    return ReadOutcome::kFailed;
  }
  if (answered_) return outcome;
  if (headerComplete_) {
    answered_ = true;
    HandleRequest();
  } else if (request_.size() >= kMaxHeaderBlock) {
    answered_ = true;
    SendStatus("501 Not Implemented");
  }
  return outcome;
}

void ClientConnection::Collect(const char* bytes, std::size_t count) {
  if (answered_ || headerComplete_ || request_.size() >= kMaxHeaderBlock) return;
  const std::size_t take = std::min(count, kMaxHeaderBlock - request_.size());
  // The end of the block may straddle the previous piece: look from three bytes before it.
  const std::size_t from = request_.size() >= 3 ? request_.size() - 3 : 0;
  request_.append(bytes, take);
  const std::size_t end = request_.find("\r\n\r\n", from);
  if (end != std::string::npos) {
    request_.resize(end + 4);  // bytes after the header block are never looked at
    headerComplete_ = true;
  }
}

void ClientConnection::HandleRequest() {
  HttpRequest request;
  if (!ParseRequest(request_, &request)) {
    SendStatus("501 Not Implemented");
    return;
  }
  if (!IsOwnHost(request, server_.BoundPort())) {
    DebugLog("Host %s is not ours -> 421\n\n", request.host.c_str());
    SendStatus("421 Misdirected Request");
    return;
  }
  QueueAnswer(server_.Handler().Answer(request));
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
  // Sends until the socket refuses: Winsock reports FD_WRITE again only after a send has
  // failed with "would block", never after one that took just part of the bytes.
  while (response.sent < response.head.size()) {
    const char* from = response.head.data() + response.sent;
    const std::size_t count = response.head.size() - response.sent;
    const long n = response.body.length > 0 ? SendWithMore(socket_, from, count) : Send(socket_, from, count);
    if (n <= 0) {
      // "Would block" included: the next write notification resumes at `sent`.
      DebugLog("send error (1): %d\n", SocketError());
      return;
    }
    response.sent += static_cast<std::size_t>(n);
  }
  if (!SendBody(response)) return;
  if (response.bodySent < response.body.length) return;
  DropPending();
  server_.Retire(*this);
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
        n = SendFileRange(socket_, body.file, body.offset + response.bodySent, static_cast<std::size_t>(share));
        if (n == 0) {
          Abort("the file ended early");
          return false;
        }
        break;
      case HttpBody::Kind::kStream:
        if (response.chunkStart == response.chunkEnd) {
          if (!response.chunk) {
            response.chunkSize = static_cast<std::size_t>(std::min<std::uint64_t>(body.length, kStreamChunk));
            response.chunk.reset(new char[response.chunkSize]);
          }
          std::size_t count = 0;
          try {
            count = body.stream->Read(response.chunk.get(), static_cast<std::size_t>(std::min<std::uint64_t>(left, response.chunkSize)));
          } catch (...) {
            Abort("the body could not be read");
            return false;
          }
          if (count == 0 || count > left) {
            Abort("the body is not as long as announced");
            return false;
          }
          response.chunkStart = 0;
          response.chunkEnd = count;
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
    response.bodySent += static_cast<std::uint64_t>(n);
    turn += static_cast<std::uint64_t>(n);
  }
  return true;
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
