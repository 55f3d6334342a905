// The package's answers from a real server on 127.0.0.1: the record's requests, the refusals,
// and a record that outlives the handler.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "http/server.h"
#include "scorm/scorm_handler.h"
#include "tests/http/raw_client.h"
#include "tests/http/server_fixture.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr char kPrefix[] = "1a2b3c/";

// A 2004 package of one SCO, for the learner Ada.
ScormCourse Course() {
  return {.manifest = {.wellFormed = true, .identifier = "M", .version = "2004", .edition = "4th", .title = "T",
                       .items = {{.identifier = "I", .title = "One", .resource = "R", .href = "a.html", .scormType = "sco"}}},
          .learner = {"ada", "Ada Lovelace"}};
}

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvane-package-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Start();
  }
  void TearDown() override {
    server_.reset();
    handler_.reset();
    fs::remove_all(dir_);
  }
  void Start() {
    server_.reset();
    handler_ = std::make_unique<ScormHandler>(content_, kPrefix, Course(), RecordStore((dir_ / "r.json").wstring()),
                                              [] { return std::int64_t{1800000000}; }, [this] { return "token" + std::to_string(++tokens_); });
    server_ = std::make_unique<HttpServer>(*handler_);
    const std::string base = server_->Start(0);
    port_ = PortOf(base);
    handler_->SetSessionUrl(base + kPrefix);
    origin_ = "http://127.0.0.1:" + std::to_string(port_);
  }
  static std::string Length(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n"; }
  // The answer's status line and body.
  std::pair<std::string, std::string> Ask(const std::string& method, const std::string& name, const std::string& headers,
                                          const std::string& body = std::string()) {
    const std::string request = method + " /" + kPrefix + ".orvane/" + name + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(port_) + "\r\n" + headers + "\r\n" + body;
    const Response answer = Split(Exchange(port_, request));
    return {answer.head.substr(0, answer.head.find("\r\n")), answer.body};
  }
  std::pair<std::string, std::string> Post(const std::string& name, const json& body) {
    return Ask("POST", name, "Origin: " + origin_ + "\r\nContent-Type: text/plain;charset=UTF-8\r\n" + Length(body.dump()), body.dump());
  }

  fs::path dir_;
  NotFoundHandler content_;
  std::unique_ptr<ScormHandler> handler_;
  std::unique_ptr<HttpServer> server_;
  std::uint16_t port_ = 0;
  std::string origin_;
  int tokens_ = 0;
};

TEST_F(Package, LaunchCommitAndTheRecordAfterARestart) {
  const auto launched = Post("launch", {{"item", "I"}});
  ASSERT_EQ(launched.first, "HTTP/1.1 200 OK");
  const json launch = json::parse(launched.second);
  EXPECT_EQ(launch["entry"], "ab-initio");
  EXPECT_EQ(launch["cmi"]["cmi.learner_id"], "ada");
  const std::string suspend(70000, 's');
  const json commit = {{"item", "I"}, {"session", launch["session"]}, {"seq", 1}, {"cmi", {{"cmi.suspend_data", suspend}}},
                       {"globals", {{"objectives", json::object()}}}};
  EXPECT_EQ(Post("commit", commit).first, "HTTP/1.1 200 OK");
  // Answered only once on disk: a new handler (a new run) reads it back.
  Start();
  const json again = json::parse(Post("launch", {{"item", "I"}}).second);
  EXPECT_EQ(again["entry"], "resume");
  EXPECT_EQ(again["cmi"]["cmi.suspend_data"], suspend);
  EXPECT_EQ(again["globals"], json({{"objectives", json::object()}}));
  const auto record = Ask("GET", "record", "Sec-Fetch-Site: same-origin\r\n");
  EXPECT_EQ(record.first, "HTTP/1.1 200 OK");
  EXPECT_EQ(json::parse(record.second)["items"]["I"]["cmi"]["cmi.suspend_data"], suspend);
  EXPECT_EQ(json::parse(Ask("GET", "course.json", "").second)["scorm"], "2004");
}

// Writes from another origin, or none, reads from other sites, and bodies the server refuses
// change nothing and get nothing.
TEST_F(Package, RefusedRequests) {
  const std::string port = std::to_string(port_), own = "Origin: " + origin_ + "\r\n", item = json{{"item", "I"}}.dump(),
                    length = Length(item);
  const struct {
    std::string method, name, headers, body, status;
  } cases[] = {
      {"POST", "launch", length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: http://evil.example\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: null\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: http://127.0.0.1:" + std::to_string(port_ + 1) + "\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: https://127.0.0.1:" + port + "\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", own + own + length, item, "403 Forbidden"},
      {"GET", "record", "Sec-Fetch-Site: cross-site\r\n", "", "403 Forbidden"},
      {"GET", "record", "Sec-Fetch-Site: same-site\r\n", "", "403 Forbidden"},
      {"GET", "course.json", "Sec-Fetch-Site: cross-site\r\n", "", "403 Forbidden"},
      {"GET", "course.json", "Sec-Fetch-Site: same-site\r\n", "", "403 Forbidden"},
      {"GET", "launch", "", "", "404 Not Found"},  // no GET changes anything
      {"POST", "commit", own + "Content-Length: 8388609\r\n", "", "413 Content Too Large"},
      {"POST", "commit", own + "Transfer-Encoding: chunked\r\n", "5\r\nhello\r\n0\r\n\r\n", "411 Length Required"},
      {"POST", "commit", own + "Content-Length: 1x\r\n", "", "400 Bad Request"},
      {"POST", "commit", own + "Content-Length: 2\r\nContent-Length: 3\r\n", "{}", "400 Bad Request"},
      {"POST", "commit", own + "Content-Length: 5\r\n", "[1,2]", "400 Bad Request"},
      {"POST", "commit", own + "Content-Length: 2\r\n", "{}", "409 Conflict"},
  };
  for (const auto& c : cases) EXPECT_EQ(Ask(c.method, c.name, c.headers, c.body).first, "HTTP/1.1 " + c.status) << c.headers;
  EXPECT_EQ(Ask("POST", "launch", "Origin: http://localhost:" + port + "\r\n" + length, item).first, "HTTP/1.1 200 OK");
  EXPECT_EQ(json::parse(Ask("GET", "record", "Sec-Fetch-Site: none\r\n").second)["items"]["I"]["attempt"], 1);
}

}  // namespace
