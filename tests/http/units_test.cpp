// The server's pure pieces: HTTP dates, the extension table, sniffing, the host check, the
// navigation rewrite.
#include <gtest/gtest.h>

#include "content/accept_encoding.h"
#include "content/content_types.h"
#include "content/navigation.h"
#include "http/http_date.h"
#include "http/request.h"
#include "tests/http/http_date_check.h"

using namespace std::string_literals;

TEST(FormatHttpDate, Cases) {
  struct Case {
    SystemTime time;
    const char* want;
  } cases[] = {
      {{2027, 1, 5, 1, 0, 0, 0, 0}, "Fri, 01 Jan 2027 00:00:00 GMT"},
      {{2024, 2, 4, 29, 23, 59, 59, 0}, "Thu, 29 Feb 2024 23:59:59 GMT"},
      {{2026, 12, 4, 31, 9, 5, 7, 0}, "Thu, 31 Dec 2026 09:05:07 GMT"},
      {{2026, 6, 0, 7, 10, 0, 0, 999}, "Sun, 07 Jun 2026 10:00:00 GMT"},
      {{1601, 1, 1, 1, 0, 0, 0, 0}, "Mon, 01 Jan 1601 00:00:00 GMT"},
  };
  for (const Case& c : cases) {
    const std::string text = FormatHttpDate(c.time);
    EXPECT_EQ(text, c.want);
    EXPECT_EQ(text.size(), 29u);
    EXPECT_GE(ParseHttpDate(text), -11644473600) << text;  // the day name fits the date
  }
}

TEST(FormatHttpDate, FromTheClock) {
  SystemTime now = {};
  ASSERT_TRUE(ToSystemTime(CurrentFileTime() + kFileTimeDay, &now));
  EXPECT_GT(ParseHttpDate(FormatHttpDate(now)), 0);
}

TEST(AcceptsDeflate, Values) {
  struct Case {
    const char* value;
    bool want;
  } cases[] = {
      {"", false}, {"gzip", false}, {"identity", false}, {"deflate", true}, {"gzip, deflate, br", true},
      {"GZIP,DEFLATE", true}, {"deflate;q=0", false}, {"deflate ; q=0.000", false}, {"deflate;q=0.001", true},
      {"*", true}, {"*;q=0", false}, {"*, deflate;q=0", false}, {"deflate;q=0.5, *;q=0", true},
      {"deflated", false}, {"x-deflate", false}, {"deflate;q=1.000", true}, {"deflate; Q=0.5 ", true},
      {"deflate;q=-1", false}, {"deflate;q=0e0", false}, {"deflate;q=1.5", false}, {"deflate;q=0.0001", false},
      {"deflate;q=.5", false}, {"deflate;q=", false}, {"deflate;level=1", false}, {"deflate;q=1;q=0", false},
  };
  for (const Case& c : cases) EXPECT_EQ(AcceptsDeflate(c.value), c.want) << c.value;
}

TEST(FindContentType, Names) {
  struct Case {
    const wchar_t* name;
    const char* want;  // null: not in the table
  } cases[] = {
      {L"Index.HTML", "text/html"},
      {L"photo.JPEG", "image/jpeg"},
      {L"styles/site.old/readme", nullptr},
      {L"archive.tar.gz", nullptr},
      {L"file.", nullptr},
      {L".css", "text/css"},
      {L"noextension", nullptr},
      {L"dir\\page.htm", "text/html"},
      {L"a.b/c\\d.png", "image/png"},  // the last "/" decides, a later "\" does not
      {L"a/b.c\\d", nullptr},           // "c\d" is no extension in the table
      {L"project.kxv", "application/x-keltrix-navigation"},
      {L"PROJECT.KXV", "application/x-keltrix-navigation"},
      {L"movie.Mp4", "video/mp4"},
      {L"sheet.xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {L"x.\u00c9", nullptr},  // only A-Z are lowered; nothing like it is in the table
  };
  for (const Case& c : cases) {
    std::string type = "untouched";
    const bool found = FindContentType(c.name, &type);
    EXPECT_EQ(found, c.want != nullptr) << testing::PrintToString(std::wstring(c.name));
    EXPECT_EQ(type, c.want ? c.want : "untouched");
  }
}

TEST(SniffContentType, Bytes) {
#ifdef _WIN32
  const char* png = "image/x-png";
#else
  const char* png = "image/png";
#endif
  const std::string html = "<html><head><title>x</title></head><body><p>hello</p></body></html>\n";
  const std::string pngBytes = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89"s;
  const std::string binary = "\x7f\x01\x02\x00\xff\xfe\x00\x10\x80\x90\x00\x00\x01\x02\x03\x04"s;
  EXPECT_EQ(SniffContentType(html.data(), html.size()), "text/html");
  EXPECT_EQ(SniffContentType(pngBytes.data(), pngBytes.size()), png);
  EXPECT_EQ(SniffContentType(binary.data(), binary.size()), "application/octet-stream");
  EXPECT_EQ(SniffContentType("plain words here\n", 17), "text/plain");
}

TEST(SniffContentType, NothingToLookAtGivesTextPlain) {
  EXPECT_EQ(SniffContentType("", 0), "text/plain");
}

// Port 80 is the one a browser leaves out of Host; the sockets test the rest (server_test).
TEST(IsOwnHost, DefaultPort) {
  for (const char* host : {"127.0.0.1", "LOCALHOST:80"}) {
    EXPECT_TRUE(IsOwnHost({false, "", "", false, true, host}, 80)) << host;
    EXPECT_FALSE(IsOwnHost({false, "", "", false, true, host}, 8080)) << host;
  }
}

TEST(FixNavigationFile, Cases) {
  const std::string u = "http://127.0.0.1:4711/1a2b3c/";
  struct Case {
    std::string body, want;
  } cases[] = {
      {"{'title':'A',\n'wa_base':'x'\n}", "{'title':'A',\n'wa_base':'" + u + "'\n}"},
      {"{'title':'A'}", "{'title':'A',\n'wa_base':'" + u + "'}"},
      {"{'title':'A','wa_base':''}", "{'title':'A',\n'wa_base':'" + u + "'}"},
      {"no key and no brace", "no key and no brace"},
      {"{'wa_base':'x','b':'y'}", "{,\n'wa_base':'" + u + "','b':'y'}"},
      // The last comma before the key counts, even outside the object.
      {"a,b{'wa_base':'x'}", "a,\n'wa_base':'" + u + "'}"},
      // Double quotes are not the key: the entry is added and the old one stays.
      {"{\"wa_base\":\"x\"}", "{\"wa_base\":\"x\",\n'wa_base':'" + u + "'}"},
      {"{'WA_BASE':'x'}", "{'WA_BASE':'x',\n'wa_base':'" + u + "'}"},
      // Key without a closing quote after it: added before the last brace, old text kept.
      {"{'a':'b'}{'wa_base':", "{'a':'b',\n'wa_base':'" + u + "'}{'wa_base':"},
      {"'wa_base'", "'wa_base'"},  // key at the very end: no quote, no brace
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string body = c.body;
    FixNavigationFile(body, u);
    EXPECT_EQ(body, c.want) << c.body;
  }
}
