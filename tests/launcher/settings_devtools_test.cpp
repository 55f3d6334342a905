// The portable readers: the settings file's HttpPort line, the session prefix, DevTools' answers.
#include <gtest/gtest.h>

#include "launcher/browsers/devtools.h"
#include "launcher/os/loopback_get.h"
#include "launcher/run/session.h"
#include "launcher/run/settings.h"

namespace {

TEST(ParseHttpPortSetting, Lines) {
  struct Case {
    const char* text;
    std::uint32_t want;
  } cases[] = {
      {"", 0},
      {"HttpPort=8080", 8080},
      {"HttpPort=8080\n", 8080},
      {"  HttpPort = 8080 \r\n", 8080},
      {"# HttpPort=1\nHttpPort=2\n", 2},
      {"Other=1\nHttpPort=3", 3},
      {"HttpPort=1\nHttpPort=2", 2},             // the last line wins
      {"HttpPort=4294967295", 4294967295u},
      {"HttpPort=4294967296", 0},                // more than 32 bits
      {"HttpPort=99999999999999999999", 0},
      {"HttpPort=-1", 0},
      {"HttpPort=0x50", 0},
      {"HttpPort=", 0},
      {"HttpPort=80 81", 0},
      {"httpport=80", 0},                        // the name is case-sensitive
      {"HttpPortX=80", 0},
      {"HttpPort=80\nHttpPort=junk", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHttpPortSetting(c.text), c.want) << c.text;
}

TEST(AppendQueryArguments, QuestionMarkThenAmpersands) {
  const std::vector<std::wstring> args = {L"prog", L"zip", L"a", L"b", L"c"};
  std::wstring url = L"u";
  AppendQueryArguments(url, args, 2);
  EXPECT_EQ(url, L"u?a&b&c");
  url = L"u";
  AppendQueryArguments(url, args, 5);
  EXPECT_EQ(url, L"u");
  AppendQueryArguments(url, args, 4);
  EXPECT_EQ(url, L"u?c");
}

TEST(DevToolsPortFromFile, FirstLine) {
  EXPECT_EQ(DevToolsPortFromFile("40123\n/devtools/browser/abc\n"), 40123);
  EXPECT_EQ(DevToolsPortFromFile("9222"), 9222);
  EXPECT_EQ(DevToolsPortFromFile("9222\r\n"), 9222);
  EXPECT_EQ(DevToolsPortFromFile(""), 0);
  EXPECT_EQ(DevToolsPortFromFile("65536\n"), 0);
  EXPECT_EQ(DevToolsPortFromFile("99999999999\n"), 0);
  EXPECT_EQ(DevToolsPortFromFile(" 80\n"), 0);
  EXPECT_EQ(DevToolsPortFromFile("80x\n"), 0);
}

bool DevToolsListHasPage(const std::string& json, const std::string& prefix) {
  return ReadDevToolsPages(json, prefix).matching > 0;
}

TEST(ReadDevToolsPages, PagesUnderThePrefix) {
  const std::string prefix = "http://127.0.0.1:4711/1a2b3c/";
  const std::string list = R"([ {
   "description": "", "devtoolsFrontendUrl": "/devtools/inspector.html?ws=x",
   "id": "A1", "title": "Orvane demo course", "type": "page",
   "url": "http:\/\/127.0.0.1:4711\/1a2b3c\/index.html?show=welcome-\u00fc",
   "webSocketDebuggerUrl": "ws://127.0.0.1:9222/devtools/page/A1", "nested": {"a": [1, 2.5e3, true, null]}
} ])";
  EXPECT_TRUE(DevToolsListHasPage(list, prefix));
  EXPECT_TRUE(DevToolsListHasPage(R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3c/"}])", prefix));
  // Escapes are decoded before the comparison.
  EXPECT_TRUE(DevToolsListHasPage(R"([{"type":"page","url":"http:\/\/127.0.0.1:4711\/1a2b3c\/ü"}])", prefix));
  EXPECT_TRUE(DevToolsListHasPage(R"([{"url":"x"},{"url":"http://127.0.0.1:4711/1a2b3c/a","type":"page"}])", prefix));
  struct Case {
    const char* json;
    const char* why;
  } misses[] = {
      {"[]", "no targets"},
      {R"([{"type":"service_worker","url":"http://127.0.0.1:4711/1a2b3c/sw.js"}])", "not a page"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/999/index.html"}])", "another run's prefix"},
      {R"([{"type":"page","url":"HTTP://127.0.0.1:4711/1a2b3c/index.html"}])", "letter case differs"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3"}])", "shorter than the prefix"},
      {R"([{"type":"page","url":"about:blank"}])", "another page"},
      {R"([{"type":"page"}])", "no url"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3\u00e7/"}])", "a non-ASCII character in the prefix's place"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3c/\x"}])", "an unknown escape"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3c/"})", "unterminated array"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3c/"}] x)", "trailing text"},
      {R"([{"type":"page","url":"http://127.0.0.1:4711/1a2b3c/}])", "unterminated string"},
      {R"({"type":"page","url":"http://127.0.0.1:4711/1a2b3c/"})", "not an array"},
      {"", "empty"},
  };
  for (const Case& c : misses) EXPECT_FALSE(DevToolsListHasPage(c.json, prefix)) << c.why;
}

TEST(ReadDevToolsPages, DeepNestingIsRefusedNotRecursedWithoutEnd) {
  const std::string deep = "[{\"type\":\"page\",\"x\":" + std::string(100000, '[') + "]}]";
  EXPECT_FALSE(ReadDevToolsPages(deep, "http://").readable);
  const std::string closed = "[" + std::string(100000, '[') + std::string(100000, ']') + "]";
  EXPECT_TRUE(ReadDevToolsPages(closed, "http://").readable);
}

TEST(ReadDevToolsPages, CountsPagesAndTheRunsOwn) {
  const std::string prefix = "http://127.0.0.1:4711/ab/";
  const DevToolsPages pages = ReadDevToolsPages(
      R"([{"type":"page","url":"http://127.0.0.1:4711/ab/index.html"},
          {"type":"page","url":"http://127.0.0.1:4711/cd/index.html"},
          {"type":"background_page","url":"chrome-extension://x/"},
          {"type":"page","url":7}, "page", null, {"type":["page"]}])",
      prefix);
  EXPECT_TRUE(pages.readable);
  EXPECT_EQ(pages.pages, 3);
  EXPECT_EQ(pages.matching, 1);
  EXPECT_TRUE(ReadDevToolsPages("[]", prefix).readable);
  EXPECT_EQ(ReadDevToolsPages("[]", prefix).pages, 0);
  EXPECT_FALSE(ReadDevToolsPages("{}", prefix).readable);
  EXPECT_FALSE(ReadDevToolsPages("<html>404</html>", prefix).readable);
}

TEST(ParseHttpResponse, StatusAndBody) {
  int status = 0;
  std::string body;
  ASSERT_TRUE(ParseHttpResponse("HTTP/1.1 200 OK\r\nA: b\r\n\r\n[1]", status, body));
  EXPECT_EQ(status, 200);
  EXPECT_EQ(body, "[1]");
  ASSERT_TRUE(ParseHttpResponse("HTTP/1.0 404 Not Found\r\n\r\n", status, body));
  EXPECT_EQ(status, 404);
  EXPECT_EQ(body, "");
  EXPECT_FALSE(ParseHttpResponse("HTTP/1.1 200 OK\r\nA: b\r\n", status, body));
  EXPECT_FALSE(ParseHttpResponse("HTTP/1.1 2x0 OK\r\n\r\n", status, body));
  EXPECT_FALSE(ParseHttpResponse("SPDY/1.1 200 OK\r\n\r\n", status, body));
  EXPECT_FALSE(ParseHttpResponse("", status, body));
}

TEST(ResponseComplete, ByContentLengthElseAtClose) {
  struct Case {
    const char* raw;
    bool complete;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", true},
      {"HTTP/1.1 200 OK\r\nContent-Length:3\r\n\r\nab", false},
      {"HTTP/1.1 200 OK\r\ncontent-LENGTH: 0\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nX: 1\r\nContent-Length: 2\r\n\r\nabc", true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n", false},  // headers not yet complete
      {"HTTP/1.1 200 OK\r\nContent-Type: a\r\n\r\nabc", false},  // no length: until close
      {"HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\nX-Content-Length: 0\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\n\r\nContent-Length: 0\r\n", false},  // in the body, not a header
  };
  for (const Case& c : cases) EXPECT_EQ(ResponseComplete(c.raw), c.complete) << c.raw;
}

TEST(LoopbackRequest, Http11ClosingTheConnection) {
  EXPECT_EQ(LoopbackRequest(9222, "/json/list"),
            "GET /json/list HTTP/1.1\r\nHost: 127.0.0.1:9222\r\nConnection: close\r\n\r\n");
}

}  // namespace
