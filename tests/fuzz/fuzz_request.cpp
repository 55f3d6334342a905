// Fuzzes request intake and parsing: the input is what one client sends on one connection,
// written in pieces into a socket pair whose other end the server's own connection handling
// reads. Whatever comes back must be one well-formed answer: a status-only response, a 200
// whose body is exactly as long as its Content-Length (GET) or empty (HEAD), a 206 whose
// Content-Range agrees with its length, or a 416.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "amzip/archive.h"
#include "content/archive_handler.h"
#include "http/connection.h"
#include "http/server_core.h"
#include "tests/http/zip_writer.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// The handler every run asks, over an archive opened once.
ArchiveHandler& Handler() {
  static std::string bytes;
  static amzip::ZipArchive archive;
  static ArchiveHandler handler(archive, "1a2b3c/");
  if (!bytes.empty()) return handler;
  ZipWriter zip;
  zip.Add("index.html", "<html><body>index</body></html>");
  zip.Add("nav.kxv", "{'title':'A','wa_base':'x'}");
  zip.Add("page.unknown", "<html><p>sniffed</p></html>");
  zip.Add("empty.txt", "");
  zip.Add("f\xC3\xBCr mich/index.html", "folder");
  zip.Add("dir/a b.css", "body{}", 0, 0);
  zip.Add("caf\xC3\xA9.txt", "cafe");
  zip.Add("large.bin", std::string(300000, 'L'));  // streamed, not sent from one buffer
  bytes = zip.Finish();
  archive.OpenMemory(bytes.data(), bytes.size(), L"fuzz.zip");
  return handler;
}

// The number after `name` in `head`, or ULONG_MAX when the header is absent.
unsigned long long NumberAfter(const std::string& head, const std::string& name) {
  const std::size_t at = head.find(name);
  if (at == std::string::npos) return ~0ull;
  return std::strtoull(head.c_str() + at + name.size(), nullptr, 10);
}

void Drain(int fd, std::string* into) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    into->append(buffer, static_cast<std::size_t>(n));
  }
}

// One answer, complete and well-formed, or nothing at all.
void CheckAnswer(const std::string& answer) {
  if (answer.empty()) return;
  for (const char* status : {"404 Not Found", "501 Not Implemented", "500 Internal Server Error", "421 Misdirected Request",
                             "400 Bad Request", "411 Length Required", "413 Content Too Large"}) {
    if (answer == StatusAnswer(status).head) return;
  }
  const std::size_t end = answer.find("\r\n\r\n");
  Require(end != std::string::npos);
  const std::string head = answer.substr(0, end + 2);
  const std::size_t bodySize = answer.size() - (end + 4);
  Require(head.find(kAnswerHeaders) != std::string::npos);
  if (head.rfind("HTTP/1.1 301 Moved Permanently\r\nLocation: /", 0) == 0) {
    // A folder's address with its "/", in characters a URL may hold.
    const std::size_t from = head.find("Location: ") + 10, last = head.find("/\r\nContent-Length: 0\r\n");
    Require(last != std::string::npos && head.find_first_of(" ?#\"<>\\\x7f", from) > last && bodySize == 0);
    return;
  }
  if (head.rfind("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */", 0) == 0) {
    Require(bodySize == 0);
    return;
  }
  const bool part = head.rfind("HTTP/1.1 206 Partial Content\r\nContent-Type: ", 0) == 0;
  Require(part || head.rfind("HTTP/1.1 200 OK\r\nContent-Type: ", 0) == 0);
  const unsigned long long length = NumberAfter(head, "\r\nContent-Length: ");
  Require(length != ~0ull);
  if (part) {
    static constexpr char kContentRange[] = "\r\nContent-Range: bytes ";
    const std::size_t at = head.find(kContentRange);
    Require(at != std::string::npos);
    char* cursor = nullptr;
    const unsigned long long first = std::strtoull(head.c_str() + at + sizeof kContentRange - 1, &cursor, 10);
    Require(*cursor == '-');
    const unsigned long long last = std::strtoull(cursor + 1, &cursor, 10);
    Require(*cursor == '/');
    const unsigned long long size = std::strtoull(cursor + 1, nullptr, 10);
    Require(first <= last && last < size && length == last - first + 1);
  }
  const bool isHead = head.find("\r\nCache-Control: max-age=86400\r\n") != std::string::npos;
  // HEAD tells the entry's length and sends nothing of it.
  Require(bodySize == (isHead ? 0 : length));
}

// The server answers only clients it finds to be of our own account, by their TCP addresses,
// and only requests whose Host names the port it is bound to. So the core gets a real listening
// socket, and every run's socket pair the addresses of one real loopback connection to it,
// accepted here once and held open for the process's life.
struct Loopback {
  ServerCore& core;
  ConnectionEnds ends;
  std::string port;
};

Loopback& Server() {
  static ServerCore core(Handler());  // never started: the harness delivers the notifications itself
  static Loopback loopback = [] {
    const SocketHandle listening = core.OpenListeningSocket();
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    Require(listening != kInvalidSocket && getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    Require(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    ConnectionEnds ends;
    ends.server = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    Require(getsockname(client, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    ends.client = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    // Both ends stay open. The core's socket reports a connection only with its first byte.
    Require(write(client, "x", 1) == 1);
    int accepted = -1;
    for (int i = 0; i < 100 && accepted < 0; ++i, usleep(10000)) accepted = accept(listening, nullptr, nullptr);
    Require(accepted >= 0);
    const std::string port = std::to_string(core.BoundPort());
    Handler().SetSessionUrl("http://127.0.0.1:" + port + "/1a2b3c/");
    return Loopback{core, ends, port};
  }();
  return loopback;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Loopback& loopback = Server();
  ServerCore& core = loopback.core;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  for (int fd : pair) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  const SocketHandle server = pair[0];
  const int client = pair[1];
  core.AddConnection(server, loopback.ends);

  // The first byte chooses the size of the pieces the rest is sent in (0: all at once). Inputs
  // name the server's port as 4711; it is sent as the port the core is bound to.
  const std::size_t piece = size == 0 || data[0] == 0 ? size + 1 : data[0];
  std::string sent(reinterpret_cast<const char*>(data), size);
  sent.erase(0, 1);
  for (std::size_t at = 0; (at = sent.find("4711", at)) != std::string::npos; at += loopback.port.size()) {
    sent.replace(at, 4, loopback.port);
  }
  const char* bytes = sent.data();
  std::size_t left = sent.size();
  std::string answer;
  while (left > 0) {
    const ssize_t n = write(client, bytes, left < piece ? left : piece);
    if (n > 0) {
      bytes += n;
      left -= static_cast<std::size_t>(n);
    }
    if (core.OnRead(server) != ReadOutcome::kOpen) core.OnClose(server);
    Drain(client, &answer);
    if (n <= 0 && !core.FindConnection(server)) break;  // answered and finished: nothing reads any more
  }
  // Let a pending answer finish, then end the client's side as a browser would.
  for (int i = 0; i < 1000 && core.FindConnection(server) && core.FindConnection(server)->HasPending(); ++i) {
    core.OnWrite(server);
    Drain(client, &answer);
  }
  shutdown(client, SHUT_WR);
  for (int i = 0; i < 100 && core.FindConnection(server); ++i) {
    if (core.OnRead(server) != ReadOutcome::kOpen) core.OnClose(server);
    Drain(client, &answer);
  }
  core.ReleaseRetired();
  // A finished connection is released and its socket closed; an unfinished one is closed by
  // the peer's end of stream above.
  Require(core.Connections().empty());
  close(client);
  CheckAnswer(answer);
  return 0;
}
