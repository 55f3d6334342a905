// Helpers on request paths and entry names shared by the server, the launcher and the archive.
#pragma once

#include <string>
#include <string_view>

// Decodes "%XY" escapes (read as by sscanf "%02X"). Every "%" consumes itself and up to the two
// characters after it; an escape that converts nothing is dropped with them, so "%zz1" gives
// "1", and a "%" at the very end disappears. "+" stays "+". The result is raw bytes.
std::string PercentDecode(std::string_view text);

// `bytes` with each byte that `keep` refuses, and every byte of 0x80 and above, written as "%XY"
// (upper-case hexadecimal).
template <class Keep>
std::string PercentEncode(std::string_view bytes, Keep keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80 && keep(c)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// The canonical form of an entry name: a leading "file://", then "\\?\", then ".\" removed
// (each once, case-sensitive, in that order); "/" and "\" become "\" with runs collapsed,
// except that a leading pair stays; A-Z lowered; trailing separators removed.
std::wstring NormalizePath(const std::wstring& path);
// The same into `*out` (whose storage is reused), for callers that normalise many names.
void NormalizePathInto(std::wstring_view path, std::wstring* out);

// Lowers A-Z in place; every other character stays as it is.
void LowerAscii(std::wstring& text);

// Removes every trailing "\" and "/".
void TrimTrailingSeparators(std::wstring& path);

// The text after the last "." anywhere in the string, or "" when there is no ".".
std::wstring FileExtension(const std::wstring& path);

// Cuts the string after its last "." (keeping the dot) and appends extension without a leading
// ".". With no "." in the string the extension is appended directly; a null extension only cuts.
void ReplaceExtension(std::wstring& path, const wchar_t* extension);
