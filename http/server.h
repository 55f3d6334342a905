// HttpServer: the local HTTP server. It listens on 127.0.0.1 from one server thread, parses GET
// and HEAD requests and sends what the handler it was given answers to them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class HttpHandler;
class ServerCore;

class HttpServer {
 public:
  // Starts Windows Sockets (a failure is logged; Start then reports an empty BaseUrl). Every
  // request is answered by `handler`, which must outlive the server.
  explicit HttpServer(HttpHandler& handler);
  // Stop(), then frees every connection record and cleans Windows Sockets up.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts the server thread on `port` (low 16 bits; 0 lets the system choose) and waits until
  // it listens, it has ended, or 10 s have passed. Returns the BaseUrl, e.g.
  // "http://127.0.0.1:4711/", or what part of it the thread got to (see the server core).
  // Called once per object, on the thread that owns the object.
  std::string Start(std::uint32_t port);

  // Asks the server thread to end and waits up to 3 s. A thread that does not end in time is
  // terminated on Windows; on POSIX, where no thread can be killed safely, it is detached and
  // everything it uses is left allocated. Harmless when no thread runs.
  void Stop();

  // The handler's LastActivityMs(): for the archive's handler, the time of the last request
  // under the run's prefix; 0 when there was none. Readable from any thread.
  std::uint64_t LastScopedRequestMs() const;

 private:
  bool socketsStarted_ = false;
  HttpHandler& handler_;
  bool abandoned_ = false;  // a server thread outlived Stop's wait and still uses core_
  std::unique_ptr<ServerCore> core_;
};
