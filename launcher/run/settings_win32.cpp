// HttpPort setting for Windows: the REG_DWORD HKCU\SOFTWARE\keltrix\Orvane\HttpPort, read only.
#include <windows.h>

#include "launcher/run/settings.h"

namespace os {

std::uint32_t ReadHttpPortSetting() {
  DWORD port = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\keltrix\\Orvane", 0, KEY_QUERY_VALUE, &key) ==
      ERROR_SUCCESS) {
    DWORD size = sizeof port;
    // A value longer than 4 bytes fails the query (its bytes are then undefined): port 0, as for
    // a missing value.
    if (RegQueryValueExW(key, L"HttpPort", nullptr, nullptr, reinterpret_cast<BYTE*>(&port),
                         &size) != ERROR_SUCCESS) {
      port = 0;
    }
    RegCloseKey(key);
  }
  return port;
}

}  // namespace os

std::wstring os::NoBrowserMessage() {
  return L"No web browser could be started. Install one, or name the one to use in the registry: "
         L"the text value Browser under HKEY_CURRENT_USER\\SOFTWARE\\keltrix\\Orvane, set to the "
         L"browser's program (for example \"C:\\Program Files\\Mozilla Firefox\\firefox.exe\").";
}
