// ClientConnection: one accepted socket, carrying one request and one response. It gathers the
// request until its header block is complete, has it answered, and sends the answer in as many
// pieces as the socket takes; the server closes the connection after the last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "http/server_core.h"
#include "http/socket.h"

// The whole response in one buffer, sent from `start`; `sent` of its `total` bytes are gone.
struct PendingResponse {
  std::unique_ptr<char[]> data;
  std::size_t start = 0;
  std::size_t sent = 0;
  std::size_t total = 0;
};

class ClientConnection {
 public:
  // The longest header block gathered; one that has not ended by then is answered 501.
  static constexpr std::size_t kMaxHeaderBlock = 64 * 1024;
  // Room kept in front of an extracted body for the response header, so the entry is held once.
  static constexpr std::size_t kHeaderRoom = 512;

  // `order` numbers connections in the order they were accepted.
  ClientConnection(ServerCore& server, SocketHandle socket, std::uint64_t order);
  ~ClientConnection();  // closes the socket; drops any pending response
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  SocketHandle Socket() const { return socket_; }
  bool HasPending() const { return pending_ != nullptr; }
  bool IsRetired() const { return retired_; }
  std::uint64_t Order() const { return order_; }
  // Nothing answered yet and no complete header block: closing it loses no answer.
  bool IsAwaitingHeader() const { return !answered_ && !headerComplete_ && !retired_; }
  // Takes no more notifications; the request and any pending response are dropped.
  void MarkRetired();

  // Reads what has arrived (at most a bounded amount per call, so one fast sender cannot hold
  // the thread). Bytes are appended to the request until the header block ends with
  // "\r\n\r\n" (or reaches kMaxHeaderBlock); then the connection is answered once, and later
  // bytes are read and dropped.
  ReadOutcome ReadRequest();

  // Answers the gathered header block (request.cpp): 501 for anything but a GET or HEAD
  // request line, 404 for a target outside SessionPrefix, else HandleGet or HandleHead.
  void HandleRequest();

  // Answers from TheArchive (response.cpp).
  void HandleGet(const std::wstring& entryName);
  void HandleHead(const std::wstring& entryName);

  // Makes `bytes` the pending response (replacing any) and sends what the socket takes now.
  void QueueResponse(const std::string& bytes);
  // The same for a buffer whose response occupies [start, start + length).
  void QueueResponse(std::unique_ptr<char[]> data, std::size_t start, std::size_t length);
  // Sends the rest of the pending response as far as the socket takes it; retires the
  // connection after the last byte.
  void SendPending();
  // Sends the status line alone: "HTTP/1.1 " + statusText + "\r\n\r\n".
  void SendStatus(const char* statusText);

 private:
  // Appends received bytes to the request while its header block is still open.
  void Collect(const char* bytes, std::size_t count);
  // Frees the pending response, telling the server how much memory that gave back.
  void DropPending();

  ServerCore& server_;
  const SocketHandle socket_;
  const std::uint64_t order_;
  std::string request_;
  bool headerComplete_ = false;  // request_ holds a whole header block, through "\r\n\r\n"
  bool answered_ = false;        // this connection's one answer has been given
  bool retired_ = false;
  std::unique_ptr<PendingResponse> pending_;
};
