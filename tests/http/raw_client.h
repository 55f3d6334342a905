// Test helper: a blocking TCP client on 127.0.0.1, for byte-exact conversations with the
// server, and counts of what the process holds (POSIX only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class RawClient {
 public:
  // Connects to 127.0.0.1:port. A positive `receiveBuffer` shrinks the socket's receive buffer
  // first, so that a large response has to wait for the reader.
  explicit RawClient(std::uint16_t port, int receiveBuffer = 0);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected_; }
  bool SendAll(const std::string& bytes);
  // Up to `capacity` bytes: the count, 0 at the end of the stream, -1 on error or time-out.
  long ReceiveSome(char* buffer, std::size_t capacity);
  // Everything until the server ends the stream (or an error or the 10 s time-out: then
  // `*closed` is false).
  std::string ReceiveAll(bool* closed = nullptr);
  // Ends this side's sending (a half-close); the answer can still be read.
  void ShutdownSend();
  void Close();

 private:
  long SendSome(const char* bytes, std::size_t count);  // the count sent, or -1

  std::uintptr_t socket_;
  bool connected_ = false;
};

// Sends `request` on a new connection and returns all the server sends back before it closes.
std::string Exchange(std::uint16_t port, const std::string& request);

// A port that nothing listens on right now (bound once by the system's choice, then freed).
std::uint16_t FreePort();

// A socket listening on 127.0.0.1:port for the life of the object (to make a port busy).
class PortHolder {
 public:
  explicit PortHolder(std::uint16_t port);
  ~PortHolder();
  bool Holding() const { return holding_; }

 private:
  std::uintptr_t socket_;
  bool holding_ = false;
};

// Open descriptors and threads of this process, or -1 where they cannot be counted.
int OpenDescriptorCount();
int ThreadCount();
