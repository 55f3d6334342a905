// Prints what Windows itself reads of a program's resources: the version's FileDescription and
// ProductName (GetFileVersionInfoW, VerQueryValueW) and the number of icons ExtractIconExW
// finds, as "FileDescription=...", "ProductName=..." and "icons=N" lines in UTF-8.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 64;
  DWORD ignored = 0;
  std::vector<unsigned char> block(GetFileVersionInfoSizeW(argv[1], &ignored));
  if (block.empty() || !GetFileVersionInfoW(argv[1], 0, static_cast<DWORD>(block.size()), block.data())) return 1;
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length)) return 1;
  for (const wchar_t* key : {L"FileDescription", L"ProductName"}) {
    wchar_t path[128];
    swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codePage, key);
    wchar_t* value = nullptr;
    if (VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&value), &length)) {
      std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(value).c_str());
    }
  }
  std::printf("icons=%u\n", ExtractIconExW(argv[1], -1, nullptr, nullptr, 0));
  return 0;
}
