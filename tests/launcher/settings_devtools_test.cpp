// The portable readers: the settings file's HttpPort line, the session prefix, DevTools' messages.
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

TEST(ReadDevToolsTargets, PagesOfAnyAddress) {
  const std::string answer = R"({"id":3,"result":{"targetInfos":[
      {"targetId":"A1","type":"page","title":"Orvane demo course","url":"http://127.0.0.1:4711/ab/index.html?show=\u00fc",
       "attached":false,"canAccessOpener":false,"browserContextId":"C1"},
      {"targetId":"A2","type":"page","url":"https://example.org/"},
      {"targetId":"A3","type":"service_worker","url":"http://127.0.0.1:4711/ab/sw.js"},
      {"type":"background_page"}, {"type":["page"]}, "page", null, {"type":"page","nested":[[1,2.5e3,true]]}]}})";
  const DevToolsPages pages = ReadDevToolsTargets(answer);
  EXPECT_TRUE(pages.readable);
  EXPECT_EQ(pages.pages, 3);
  EXPECT_TRUE(ReadDevToolsTargets(R"({"id":1,"result":{"targetInfos":[]}})").readable);
  struct Case {
    const char* message;
    const char* why;
  } unreadable[] = {
      {R"({"id":1,"error":{"code":-32000,"message":"Not allowed"}})", "an error answer"},
      {R"({"id":1,"result":{}})", "no list"},
      {R"({"id":1,"result":{"targetInfos":{}}})", "not an array"},
      {R"({"id":1,"result":[]})", "no result object"},
      {R"({"id":1,"result":{"targetInfos":[{"type":"page"}]})", "unterminated"},
      {R"([{"type":"page"}])", "not an object"},
      {"", "empty"},
  };
  for (const Case& c : unreadable) EXPECT_FALSE(ReadDevToolsTargets(c.message).readable) << c.why;
  const std::string deep = R"({"id":1,"result":{"targetInfos":[)" + std::string(100000, '[') + "]}}";
  EXPECT_FALSE(ReadDevToolsTargets(deep).readable);
}

TEST(DevToolsMessage, CommandsAndIds) {
  EXPECT_EQ(DevToolsCommand(7, "Browser.close"), std::string("{\"id\":7,\"method\":\"Browser.close\"}") + '\0');
  EXPECT_EQ(DevToolsMessageId(R"({"id":12,"result":{}})"), 12);
  EXPECT_EQ(DevToolsMessageId(R"({"method":"Target.targetCreated","params":{}})"), -1);
  EXPECT_EQ(DevToolsMessageId(R"({"id":"12"})"), -1);
  EXPECT_EQ(DevToolsMessageId("[12]"), -1);
}

// The session picks its answer out of what the pipe brings, however it is cut.
class ScriptedPipe : public MessagePipe {
 public:
  std::vector<std::string> written;
  std::vector<std::string> reads;  // one per Read; then time-outs, or kClosed with `closes`
  bool closes = false;
  bool Write(const std::string& bytes) override {
    written.push_back(bytes);
    return true;
  }
  ReadResult Read(std::string& to, int) override {
    if (next_ < reads.size()) {
      to += reads[next_++];
      return ReadResult::kData;
    }
    return closes ? ReadResult::kClosed : ReadResult::kTimeout;
  }

 private:
  std::size_t next_ = 0;
};

TEST(DevToolsSession, AnswersAmongEventsAndPieces) {
  ScriptedPipe pipe;
  const std::string nul(1, '\0');
  pipe.reads = {R"({"method":"Target.targetCreated","params":{}})" + nul + R"({"id":1,"res)",
                R"(ult":{"targetInfos":[{"type":"page"},{"type":"page"}]}})" + nul + R"({"id":2,"result":{"targ)",
                R"(etInfos":[]}})" + nul};
  DevToolsSession session(pipe);
  EXPECT_EQ(session.ListPages(100).pages, 2);
  EXPECT_EQ(session.ListPages(100).pages, 0);
  EXPECT_FALSE(session.ListPages(100).readable) << "no answer";
  EXPECT_FALSE(session.Closed());
  EXPECT_EQ(pipe.written.size(), 3u);
  EXPECT_EQ(pipe.written[0], DevToolsCommand(1, "Target.getTargets"));
  // The third command is still unanswered: asked again, it is not sent again.
  EXPECT_FALSE(session.ListPages(100).readable);
  EXPECT_EQ(pipe.written.size(), 3u);
  pipe.closes = true;
  EXPECT_FALSE(session.ListPages(100).readable);
  EXPECT_TRUE(session.Closed());
  EXPECT_FALSE(session.CloseBrowser());
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
