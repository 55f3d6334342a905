// Content sniffing on Windows: FindMimeFromData of the URL moniker library, with "text/plain"
// proposed and returned when the call fails.
#include <windows.h>
#include <urlmon.h>

#include "content/content_types.h"
#include "text/text.h"

std::string SniffContentType(const void* bytes, std::size_t length) {
  const DWORD size = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
  LPWSTR found = nullptr;
  const HRESULT result = FindMimeFromData(nullptr, nullptr, const_cast<void*>(bytes), size,
                                          L"text/plain", 0, &found, 0);
  if (FAILED(result) || !found) return "text/plain";
  const std::string type = WideToAnsi(found);
  CoTaskMemFree(found);  // the type string belongs to the caller
  return type.empty() ? "text/plain" : type;
}
