#include "text/url.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(PercentDecode, Cases) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {"a%20b", "a b"},
      {"%41%42", "AB"},
      {"%zz1", "1"},
      {"100%25", "100%"},
      {"plain/path+x", "plain/path+x"},
      {"%3F", "?"},
      {"%e2%82%ac", "\xE2\x82\xAC"},
      {"%00x", "\0x"s},
      {"%%41", "1"},   // the second "%" is eaten as a digit that does not convert
      {"abc%", "abc"},  // a lone "%" at the end disappears
      {"abc%4", "abc\x04"},  // one digit left: decoded alone
      {"%", ""},
      {"%4", "\x04"},
      {"a%g", "a"},
  };
  for (const Case& c : cases) EXPECT_EQ(PercentDecode(c.in), c.want) << c.in;
}

TEST(PercentDecode, NeverReadsPastTheEnd) {
  // Exact-size heap copies, so that the sanitizer run would see any read past their end.
  for (const char* text : {"%", "x%", "%A", "x%A", "%%", "%A%"}) {
    const std::string exact(text);
    std::string copy(exact.begin(), exact.end());
    copy.shrink_to_fit();
    EXPECT_LE(PercentDecode(copy).size(), copy.size()) << text;
  }
}

TEST(NormalizePath, Cases) {
  struct Case {
    std::wstring in, want;
  } cases[] = {
      {L"Images/Logo.PNG", L"images\\logo.png"},
      {L"file://Data//A/", L"data\\a"},
      {L".\\x\\y", L"x\\y"},
      {L"\\\\?\\C:\\Dir\\", L"c:\\dir"},
      {L"//server/share", L"\\\\server\\share"},
      {L"///x", L"\\\\x"},
      {L"FILE://a", L"file:\\a"},  // the prefix test is case-sensitive
      {L"file://\\\\?\\.\\a", L"a"},  // all three prefixes, in order
      {L".\\file://a", L"file:\\a"},  // only in that order
      {L"./x", L".\\x"},  // ".\" only with a backslash
      {L"\\index.html", L"\\index.html"},
      {L"", L""},
      {L"/", L""},
      {L"a\\\\b//c", L"a\\b\\c"},
      {L"\u00C9T\u00C9.HTML", L"\u00C9t\u00C9.html"},  // only A to Z are lowered
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizePath(c.in), c.want);
}

TEST(TrimTrailingSeparators, RemovesEveryKind) {
  std::wstring s = L"a/b\\/\\";
  TrimTrailingSeparators(s);
  EXPECT_EQ(s, L"a/b");
  s = L"//";
  TrimTrailingSeparators(s);
  EXPECT_EQ(s, L"");
}

TEST(FileExtension, Cases) {
  EXPECT_EQ(FileExtension(L"prog.EXE"), L"EXE");
  EXPECT_EQ(FileExtension(L"README"), L"");
  EXPECT_EQ(FileExtension(L"a."), L"");
  EXPECT_EQ(FileExtension(L"C:\\a.b\\c"), L"b\\c");
  EXPECT_EQ(FileExtension(L"x.tar.gz"), L"gz");
}

TEST(ReplaceExtension, Cases) {
  struct Case {
    std::wstring in;
    const wchar_t* ext;
    std::wstring want;
  } cases[] = {
      {L"disk.z01", L"zip", L"disk.zip"},
      {L"disk.z01", L".zip", L"disk.zip"},
      {L"dir.v2\\disk", L"zip", L"dir.zip"},
      {L"noext", L"zip", L"noextzip"},
      {L"a.b", nullptr, L"a."},
      {L"a.b", L"..x", L"a..x"},  // only one leading dot is skipped
  };
  for (const Case& c : cases) {
    std::wstring s = c.in;
    ReplaceExtension(s, c.ext);
    EXPECT_EQ(s, c.want);
  }
}
