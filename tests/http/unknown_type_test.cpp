// The browsers' sniffing of an untyped answer (POSIX's SniffContentType), row by row of its
// signature tables and at their edges. Portable, so it runs on both builds.
#include <gtest/gtest.h>

#include <string>

#include "content/unknown_type.h"

using namespace std::string_literals;

namespace {

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

}  // namespace
