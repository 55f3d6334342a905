#include "text/text.h"

#include <gtest/gtest.h>

#include "tests/text/wide.h"

using namespace std::string_literals;

TEST(Utf8ToWide, DecodesAndReplaces) {
  struct Case {
    std::string in;
    std::u32string want;
  } cases[] = {
      {"", U""},
      {"abc", U"abc"},
      {"\xC3\xA9", U"\u00E9"},
      {"a\0b"s, U"a\0b"s},                                   // counted length, zero included
      {"\xE2\x82\xAC", U"\u20AC"},                           // three bytes
      {"\xF0\x9F\x98\x80", U"\U0001F600"},                   // outside the BMP
      {"\xFF", U"\uFFFD"},                                   // never a valid byte
      {"a\xC3", U"a\uFFFD"},                                 // truncated at the end
      {"\xC3(", U"\uFFFD("},                                 // bad continuation
      {"\xE2\x82(", U"\uFFFD("},                             // one replacement per maximal subpart
      {"\x80x", U"\uFFFDx"},                                 // stray continuation byte
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToWide(c.in), Wide(c.want)) << "input of " << c.in.size() << " bytes";
}

TEST(Conversions, EmptyGivesEmpty) {
  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
  EXPECT_EQ(OemToWide(""), L"");
}

TEST(Conversions, AsciiRoundTripKeepsEmbeddedZeros) {
  const std::wstring wide = L"http://127.0.0.1:80/\0ff/"s;
  const std::string narrow = WideToAnsi(wide);
  EXPECT_EQ(narrow, "http://127.0.0.1:80/\0ff/"s);
  EXPECT_EQ(AnsiToWide(narrow), wide);
}

TEST(Conversions, OemCodePageIs437) {
  // 0x82 is e-acute and 0xE1 sharp s in CP437; ASCII passes unchanged.
  EXPECT_EQ(OemToWide("caf\x82 \xE1"), L"caf\u00E9 \u00DF");
}

TEST(Utf16LeToWide, StopsAtZeroAndJoinsPairs) {
  EXPECT_EQ(Utf16LeToWide("a\0b\0"s.data(), 4), L"ab");
  EXPECT_EQ(Utf16LeToWide("a\0\0\0b\0"s.data(), 6), L"a");
  EXPECT_EQ(Utf16LeToWide("a\0b"s.data(), 3), L"a");  // odd last byte ignored
  EXPECT_EQ(Utf16LeToWide("", 0), L"");
  EXPECT_EQ(Utf16LeToWide("\x3D\xD8\x00\xDE"s.data(), 4), Wide(U"\U0001F600"));
}

TEST(FormatText, Basics) {
  EXPECT_EQ(FormatText(nullptr), "");
  EXPECT_EQ(FormatText("%x/", 255u), "ff/");
  EXPECT_EQ(FormatText("%x/", 4096u), "1000/");
  EXPECT_EQ(FormatText("%s", ""), "(null)");
  EXPECT_EQ(FormatText("%c", 0), "(null)");  // first byte zero
  EXPECT_EQ(FormatText("%S|%s", L"wide", "narrow"), "wide|narrow");
  EXPECT_EQ(FormatText("[0x%08x] %lu %d", 0x80004002u, 4294967295ul, -7), "[0x80004002] 4294967295 -7");
}

TEST(FormatText, GrowsPastEachBufferBoundary) {
  // Lengths around the point where an output fills a buffer's allowance exactly.
  for (std::size_t length : {254u, 255u, 256u, 510u, 511u, 512u, 1023u, 70000u, 1048574u}) {
    const std::string text(length, 'x');
    EXPECT_EQ(FormatText("%s", text.c_str()), text) << length;
  }
}

TEST(FormatText, OneMebibyteIsTheLimit) {
  EXPECT_EQ(FormatText("%s", std::string(1048575, 'y').c_str()), "");
  EXPECT_EQ(FormatText("%s", std::string(3000000, 'y').c_str()), "");
}

TEST(DebugLog, EvaluatesItsArgumentsAndDiscardsThem) {
  int calls = 0;
  auto code = [&] { return ++calls; };
  DebugLog("error %d\n", code());
  EXPECT_EQ(calls, 1);
}
