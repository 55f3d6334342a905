// The real browser-window probe of the platform, with no browser window of this run open: it
// must answer false, on every call, whether COM is initialised or not (Windows), and without a
// request served recently (POSIX, a browser that is neither Chromium nor Firefox).
#include <gtest/gtest.h>

#include "http/handler.h"
#include "http/server.h"
#include "launcher/browser.h"
#include "launcher/probe.h"
#include "launcher/session.h"
#include "launcher/system.h"

namespace {

TEST(Probe, NoWindowOfThisRun) {
  SessionUrl = L"http://127.0.0.1:1/ff/";
  os::BrowserProcess browser;
  NotFoundHandler handler;
  const HttpServer server(handler);
  // Without COM the shell-windows object cannot be made; creation is retried on each call.
  EXPECT_FALSE(os::ProbeBrowserWindow(browser, server));
  EXPECT_FALSE(os::ProbeBrowserWindow(browser, server));
  os::BeginComApartment();
  EXPECT_FALSE(os::ProbeBrowserWindow(browser, server));
  EXPECT_FALSE(os::ProbeBrowserWindow(browser, server));
  os::ReleaseBrowserWindowProbe();
  os::EndComApartment();
}

}  // namespace
