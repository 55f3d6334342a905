#include "http/connection.h"

#include <algorithm>
#include <cstring>

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

void ClientConnection::QueueResponse(const std::string& bytes) {
  std::unique_ptr<char[]> data(new char[bytes.size()]);
  std::memcpy(data.get(), bytes.data(), bytes.size());
  QueueResponse(std::move(data), 0, bytes.size());
}

void ClientConnection::QueueResponse(std::unique_ptr<char[]> data, std::size_t start,
                                     std::size_t length) {
  DropPending();
  pending_ = std::make_unique<PendingResponse>();
  pending_->data = std::move(data);
  pending_->start = start;
  pending_->total = length;
  SendPending();
}

void ClientConnection::SendPending() {
  if (!pending_ || retired_) return;  // e.g. the writable report right after accept
  PendingResponse& response = *pending_;
  // Sends until the socket refuses: Winsock reports FD_WRITE again only after a send has
  // failed with "would block", never after one that took just part of the bytes.
  while (response.sent < response.total) {
    const long n = Send(socket_, response.data.get() + response.start + response.sent,
                        response.total - response.sent);
    if (n <= 0) {
      // "Would block" included: the next write notification resumes at `sent`.
      DebugLog("send error (1): %d\n", SocketError());
      return;
    }
    response.sent += static_cast<std::size_t>(n);
  }
  DropPending();
  server_.Retire(*this);
}

void ClientConnection::DropPending() {
  if (!pending_) return;
  server_.NoteResponseFreed(pending_->start + pending_->total);
  pending_.reset();
}

void ClientConnection::SendStatus(const char* statusText) {
  QueueResponse("HTTP/1.1 " + std::string(statusText) + "\r\n\r\n");
}
