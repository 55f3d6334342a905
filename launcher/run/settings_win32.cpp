// The settings for Windows, read only: the REG_DWORD HKCU\SOFTWARE\keltrix\Orvane\HttpPort and
// the text value LearnerName beside it.
#include <windows.h>

#include "launcher/run/settings.h"

namespace {

std::uint32_t ReadHttpPort() {
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

std::wstring ReadLearnerName() {
  wchar_t value[1024];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\keltrix\\Orvane", L"LearnerName", RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

}  // namespace

UserSettings ReadUserSettings() { return {ReadHttpPort(), ReadLearnerName()}; }

std::wstring NoBrowserMessage() {
  return L"No web browser could be started. Install one, or name the one to use in the registry: "
         L"the text value Browser under HKEY_CURRENT_USER\\SOFTWARE\\keltrix\\Orvane, set to the "
         L"browser's program (for example \"C:\\Program Files\\Mozilla Firefox\\firefox.exe\").";
}
