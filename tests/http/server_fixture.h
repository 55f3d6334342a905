// Test helper: a real HttpServer on 127.0.0.1 serving an in-memory archive under a fixed
// prefix, and the pieces of a response.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "http/server.h"
#include "launcher/session.h"
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

// The port in "http://127.0.0.1:PORT/", or 0.
inline std::uint16_t PortOf(const std::string& baseUrl) {
  const std::string lead = "http://127.0.0.1:";
  if (baseUrl.compare(0, lead.size(), lead) != 0) return 0;
  return static_cast<std::uint16_t>(std::stoul(baseUrl.substr(lead.size())));
}

class ServerTest : public ::testing::Test {
 protected:
  static constexpr const char* kPrefix = "1a2b3c/";

  void SetUp() override { SessionPrefix = kPrefix; }

  void TearDown() override {
    server_.reset();
    TheArchive.Close();
    SessionPrefix.clear();
    SessionUrl.clear();
  }

  // Opens `zip` as TheArchive and starts a server on a port of the system's choice.
  void Serve(const std::string& zip) {
    archive_ = zip;
    TheArchive.OpenMemory(archive_.data(), archive_.size(), L"test.zip");
    StartServer(0);
  }

  void StartServer(std::uint32_t port) {
    server_ = std::make_unique<HttpServer>();
    baseUrl_ = server_->Start(port);
    port_ = PortOf(baseUrl_);
    ASSERT_NE(port_, 0) << baseUrl_;
    SessionUrl = AnsiToWide(baseUrl_ + kPrefix);
  }

  // One request line with a Host header, the whole answer back.
  std::string Ask(const std::string& method, const std::string& target) {
    return Exchange(port_, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  }
  std::string Get(const std::string& entry) { return Ask("GET", "/" + std::string(kPrefix) + entry); }
  std::string Head(const std::string& entry) { return Ask("HEAD", "/" + std::string(kPrefix) + entry); }

  std::string archive_;
  std::unique_ptr<HttpServer> server_;
  std::string baseUrl_;
  std::uint16_t port_ = 0;
};

inline const std::string kNotFound = "HTTP/1.1 404 Not Found\r\n\r\n";
inline const std::string kNotImplemented = "HTTP/1.1 501 Not Implemented\r\n\r\n";
inline const std::string kServerError = "HTTP/1.1 500 Internal Server Error\r\n\r\n";
