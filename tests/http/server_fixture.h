// Test helper: a real HttpServer on 127.0.0.1 answering from an archive (in memory or a file)
// under a fixed prefix, and the pieces of a response.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "amzip/archive.h"
#include "content/archive_handler.h"
#include "http/server.h"
#include "tests/http/raw_client.h"
#include "text/text.h"

struct Response {
  std::string head;  // status line and headers, through the empty line
  std::string body;
};

inline Response Split(const std::string& bytes) {
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return {bytes, ""};
  return {bytes.substr(0, end + 4), bytes.substr(end + 4)};
}

// Bytes that differ everywhere, so a piece sent twice or skipped cannot go unnoticed.
inline std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2463534242u;
  for (std::size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<char>(state);
  }
  return bytes;
}

// The value of header `name` in a head, or "(absent)".
inline std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "(absent)";
  const std::size_t start = at + 2 + name.size() + 2;
  return head.substr(start, head.find("\r\n", start) - start);
}

// The port in "http://127.0.0.1:PORT/", or 0.
inline std::uint16_t PortOf(const std::string& baseUrl) {
  const std::string lead = "http://127.0.0.1:";
  if (baseUrl.compare(0, lead.size(), lead) != 0) return 0;
  return static_cast<std::uint16_t>(std::stoul(baseUrl.substr(lead.size())));
}

class ServerTest : public ::testing::Test {
 protected:
  static constexpr const char* kPrefix = "1a2b3c/";

  void TearDown() override {
    server_.reset();
    archive_.Close();
  }

  // Opens `zip` as the archive and starts a server on a port of the system's choice.
  void Serve(const std::string& zip) {
    zip_ = zip;
    archive_.OpenMemory(zip_.data(), zip_.size(), L"test.zip");
    StartServer(0);
  }
  // The same for an archive file.
  void ServeFile(const std::string& path) {
    archive_.OpenFile(AnsiToWide(path));
    StartServer(0);
  }

  void StartServer(std::uint32_t port) {
    server_.reset();
    server_ = std::make_unique<HttpServer>(handler_);
    baseUrl_ = server_->Start(port);
    port_ = PortOf(baseUrl_);
    ASSERT_NE(port_, 0) << baseUrl_;
    handler_.SetSessionUrl(baseUrl_ + kPrefix);
  }

  // One request line with the server's own Host, the whole answer back.
  std::string Ask(const std::string& method, const std::string& target) {
    return Exchange(port_, method + " " + target + " HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n");
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Get(const std::string& entry) { return Ask("GET", "/" + std::string(kPrefix) + entry); }
  std::string Head(const std::string& entry) { return Ask("HEAD", "/" + std::string(kPrefix) + entry); }

  // In the order of their lifetimes: the server goes first.
  std::string zip_;
  amzip::ZipArchive archive_;
  ArchiveHandler handler_{archive_, kPrefix};
  std::unique_ptr<HttpServer> server_;
  std::string baseUrl_;
  std::uint16_t port_ = 0;
};

// The header lines every answer carries, as a test spells them out.
inline const std::string kCommon =
    "Cross-Origin-Resource-Policy: same-origin\r\nX-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: frame-ancestors 'self'\r\nConnection: close\r\n";
inline const std::string kNotFound = "HTTP/1.1 404 Not Found\r\n" + kCommon + "\r\n";
inline const std::string kNotImplemented = "HTTP/1.1 501 Not Implemented\r\n" + kCommon + "\r\n";
inline const std::string kServerError = "HTTP/1.1 500 Internal Server Error\r\n" + kCommon + "\r\n";
inline const std::string kMisdirected = "HTTP/1.1 421 Misdirected Request\r\n" + kCommon + "\r\n";
