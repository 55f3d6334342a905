// The POSIX probe by browser kind, against the real server: for a browser that is neither
// Chromium nor Firefox, a request answered under SessionPrefix stands in for an open window.
#include <gtest/gtest.h>

#include "amzip/archive.h"
#include "content/archive_handler.h"
#include "http/server.h"
#include "launcher/browser_posix.h"
#include "launcher/loopback_get.h"
#include "launcher/probe.h"
#include "launcher/session.h"
#include "tests/launcher/fixtures.h"
#include "text/text.h"

namespace {

class PosixProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    SessionPrefix = "ab/";
    base_ = server_.Start(0);
    SessionUrl = AnsiToWide(base_ + SessionPrefix);
    archive_.OpenFile(Fixture("plain.zip"));
  }
  void TearDown() override { server_.Stop(); }
  // GETs a path of the server; the status code.
  int Get(const std::string& target) {
    const std::size_t colon = base_.rfind(':');
    const int port = std::stoi(base_.substr(colon + 1));
    std::string raw, body;
    int status = 0;
    if (!os::LoopbackGet(static_cast<std::uint16_t>(port), target, raw, 5000)) return -1;
    return ParseHttpResponse(raw, status, body) ? status : -2;
  }

  amzip::ZipArchive archive_;
  ArchiveHandler handler_{archive_, "ab/"};
  HttpServer server_{handler_};
  std::string base_;
  os::BrowserProcess browser_;
};

TEST_F(PosixProbe, AnyOtherBrowserIsThereWhileItsPagesWereRequestedRecently) {
  ASSERT_EQ(browser_.state().kind, BrowserKind::kOther);
  EXPECT_FALSE(os::ProbeBrowserWindow(browser_, server_)) << "nothing requested yet";
  EXPECT_EQ(Get("/other/index.html"), 404);
  EXPECT_FALSE(os::ProbeBrowserWindow(browser_, server_)) << "a request outside the prefix";
  EXPECT_EQ(Get("/ab/index.html"), 200);
  EXPECT_TRUE(os::ProbeBrowserWindow(browser_, server_));
}

TEST_F(PosixProbe, FirefoxIsItsProcess) {
  browser_.state().kind = BrowserKind::kFirefox;
  EXPECT_EQ(Get("/ab/index.html"), 200);
  EXPECT_FALSE(os::ProbeBrowserWindow(browser_, server_));
}

TEST_F(PosixProbe, ChromiumWithoutDevToolsIsNoWindow) {
  browser_.state().kind = BrowserKind::kChromium;
  browser_.state().profileDir = "/nonexistent/orvane-profile";
  EXPECT_EQ(Get("/ab/index.html"), 200);
  EXPECT_FALSE(os::ProbeBrowserWindow(browser_, server_));
}

}  // namespace
