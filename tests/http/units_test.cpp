// The server's pure pieces: HTTP dates, the extension table, sniffing, the host check, the
// navigation rewrite.
#include <gtest/gtest.h>

#include "content/accept_encoding.h"
#include "content/content_types.h"
#include "content/navigation.h"
#include "content/unknown_type.h"
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

// The browsers' sniffing of an untyped answer (POSIX's SniffContentType), row by row of its
// signature tables and at their edges. Portable, so it runs on both builds.
TEST(IdentifyUnknownType, Table) {
  const std::string ftyp = "\0\0\0\x18" "ftyp" "isom" "\0\0\0\0" "isom" "mp42"s;  // brand mp42 at 20
  const std::string ebml = "\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\x82\x84" "webm"s;
  // An MPEG-1 layer III frame header, bit-rate index 9 at 44.1 kHz: by the standard's own rates
  // table for that version (80 kbit/s) and its factor 144, the next frame is 261 bytes on.
  const std::string mp3Frame = "\xFF\xFB\x90\x64"s + std::string(257, '\x11');
  struct Case {
    std::string bytes;
    const char* want;
  } cases[] = {
      // Pages and the other scriptable types: leading whitespace skipped, tags in any case,
      // followed by a space or ">".
      {"<!DOCTYPE html><p>", "text/html"}, {" \t\r\n\x0c<!doctype HTML>", "text/html"}, {"<html>", "text/html"},
      {"<HeAd>", "text/html"},  {"<script src=a.js>", "text/html"}, {"<iframe ", "text/html"}, {"<h1>Title</h1>", "text/html"},
      {"<div>", "text/html"},   {"<font>", "text/html"},  {"<table>", "text/html"}, {"<a href=x>", "text/html"},
      {"<style>", "text/html"}, {"<title>", "text/html"}, {"<b>", "text/html"},     {"<body>", "text/html"},
      {"<br>", "text/html"},    {"<p>", "text/html"},     {"<!-- note -->", "text/html"},
      {"<htmlx>", "text/plain"},  // not followed by a space or ">"
      {"<html", "text/plain"},   // nothing after the name
      {"<h2>", "text/plain"},    // not in the table
      {"\v<html>", "application/octet-stream"},  // a vertical tab is no whitespace: a binary byte
      {"<?xml version=\"1.0\"?>", "text/xml"}, {"  <?xml", "text/xml"},
      {"<?XML", "text/plain"},  // exact case
      {"%PDF-1.7", "application/pdf"},
      {" %PDF-1.7", "text/plain"},  // no whitespace before the signature
      {"%!PS-Adobe-3.0", "application/postscript"},
      // Byte order marks: text whatever follows, though what follows looks binary; a page behind
      // a BOM is not sniffed as one.
      {"\xFE\xFF\0A"s, "text/plain"}, {"\xFF\xFE" "A\0"s, "text/plain"}, {"\xEF\xBB\xBF\x01"s, "text/plain"},
      {"\xEF\xBB\xBF<html>"s, "text/plain"},
      // Images.
      {"\0\0\x01\0\x01\0"s, "image/x-icon"}, {"\0\0\x02\0\x01\0"s, "image/x-icon"}, {"BM\x36\0\0\0"s, "image/bmp"},
      {"GIF87a\x01\0"s, "image/gif"}, {"GIF89a\x01\0"s, "image/gif"}, {"RIFF\x24\0\0\0WEBPVP8 "s, "image/webp"},
      {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, "image/png"}, {"\xFF\xD8\xFF\xE0\0\x10JFIF"s, "image/jpeg"},
      // Audio and video.
      {".snd\0\0\0\x18"s, "audio/basic"}, {"FORM\0\0\0\x10" "AIFFCOMM"s, "audio/aiff"}, {"ID3\x04\0\0\0\0\0\0"s, "audio/mpeg"},
      {"OggS\0\x02"s, "application/ogg"}, {"OggS\x01"s, "application/octet-stream"}, {"MThd\0\0\0\x06\0\x01"s, "audio/midi"},
      {"RIFF\x24\0\0\0" "AVI LIST"s, "video/avi"}, {"RIFF\x24\0\0\0WAVEfmt "s, "audio/wave"}, {ftyp, "video/mp4"},
      {"\0\0\0\x10" "ftyp" "mp41" "\0\0\0\0"s, "video/mp4"},      // the major brand
      {"\0\0\0\x18" "ftyp" "isom" "\0\0\0\0" "isom" "avc1"s, "application/octet-stream"},
      {"\0\0\0\x40" "ftyp" "mp41" "\0\0\0\0"s, "application/octet-stream"},  // box larger than the bytes
      {ebml, "video/webm"}, {"\x1A\x45\xDF\xA3\x9F\x42\x82\x88" "matroska"s, "application/octet-stream"},
      {mp3Frame + mp3Frame.substr(0, 4), "audio/mpeg"},  // two frame headers a frame apart
      {mp3Frame, "application/octet-stream"},            // one is not enough
      // Archives; "Rar!" is not the standard's pattern, which has "Rar ".
      {"\x1F\x8B\x08\0\0\0\0\0"s, "application/x-gzip"}, {"PK\x03\x04\x14\0"s, "application/zip"},
      {"Rar \x1A\x07\0"s, "application/x-rar-compressed"}, {"Rar!\x1A\x07\0"s, "application/octet-stream"},
      // Nothing known: text unless a binary control byte is in the first 1445 bytes.
      {"", "text/plain"}, {"plain words\r\n\tand \x1B[1m escapes \x0c", "text/plain"},
      {"words\0more"s, "application/octet-stream"}, {"\x7F\x45LF\x02\x01\x01"s, "application/octet-stream"},
      {"caf\xC3\xA9 \xFF\xFE\x80", "text/plain"},  // high bytes are no binary data bytes
      {std::string(1445, 'x') + "\x01", "text/plain"},   // past the resource header
      {std::string(1444, 'x') + "\x01", "application/octet-stream"},
      {std::string(1440, ' ') + "<html>", "text/plain"},  // the tag would end past the header
      {std::string(1439, ' ') + "<html>", "text/html"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IdentifyUnknownType(c.bytes.data(), c.bytes.size()), c.want) << testing::PrintToString(c.bytes.substr(0, 40));
  }
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
