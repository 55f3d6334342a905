// POSIX file paths: bytes that are not UTF-8 survive the way through a wide string.
#include <gtest/gtest.h>

#include "tests/text/wide.h"
#include "text/text.h"

using namespace std::string_literals;

TEST(PathToWide, InvalidBytesAreKeptAndComeBack) {
  const auto escaped = [](unsigned byte) { return std::wstring(1, static_cast<wchar_t>(0xDC00 + byte)); };
  struct Case {
    std::string path;
    std::wstring wide;
  } cases[] = {
      {"", L""},
      {"/home/ann/caf\xC3\xA9.zip", L"/home/ann/caf\u00E9.zip"},                // UTF-8 as it is
      {"/home/ann/caf\xE9.zip", L"/home/ann/caf" + escaped(0xE9) + L".zip"},  // Latin-1
      {"a\xE2\x82(", L"a" + escaped(0xE2) + escaped(0x82) + L"("},         // each byte of a cut sequence
      {"\xFF\xFE\x80", escaped(0xFF) + escaped(0xFE) + escaped(0x80)},
      {"\xED\xB3\xA9", escaped(0xED) + escaped(0xB3) + escaped(0xA9)},  // an encoded surrogate is no UTF-8
      {"a\0b"s, L"a\0b"s},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathToWide(c.path), c.wide) << c.path;
    EXPECT_EQ(WideToPath(PathToWide(c.path)), c.path) << c.path;
  }
  // Every byte pair round-trips.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; b += 7) {
      const std::string path = {static_cast<char>(a), static_cast<char>(b), 'x'};
      ASSERT_EQ(WideToPath(PathToWide(path)), path) << a << " " << b;
    }
  }
  // Elsewhere an escape is no character of its own: AnsiToWide replaces, WideToAnsi too.
  EXPECT_EQ(AnsiToWide("caf\xE9"), Wide(U"caf\uFFFD"));
  EXPECT_EQ(WideToAnsi(PathToWide("caf\xE9")), "caf\xEF\xBF\xBD");
}
