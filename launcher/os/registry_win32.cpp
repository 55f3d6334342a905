// Registry reading for Windows; see registry_win32.h.
#include "launcher/os/registry_win32.h"

#include <vector>

#include "launcher/os/folders_win32.h"

namespace os {

RegistryKey::RegistryKey(HKEY root, const std::wstring& subkey, REGSAM view) {
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, &key_) != ERROR_SUCCESS) {
    key_ = nullptr;
  }
}

RegistryKey::~RegistryKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

std::wstring ExpandEnvironment(const std::wstring& text) {
  const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (size == 0) return text;
  std::vector<wchar_t> out(size + 1, L'\0');
  if (ExpandEnvironmentStringsW(text.c_str(), out.data(), size + 1) == 0) return text;
  return out.data();
}

bool RegistryKey::ReadString(const wchar_t* name, std::wstring& value) const {
  if (key_ == nullptr) return false;
  // A value that grows between the size query and the read is asked for again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // Stored text need not end in a zero: one more is kept in reserve.
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    const LSTATUS result =
        RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    value.assign(text.data());  // up to the first zero
    if (type == REG_EXPAND_SZ) value = ExpandEnvironment(value);
    return true;
  }
  return false;
}

bool ReadRegistryStringAnyView(HKEY root, const std::wstring& subkey, const wchar_t* name,
                               std::wstring& value) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    if (RegistryKey(root, subkey, view).ReadString(name, value)) return true;
  }
  return false;
}

std::wstring RegisteredAppPath(const RegistryRoots& roots, const std::wstring& name) {
  std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + name;
  if (name.find(L'.') == std::wstring::npos) key += L".exe";
  std::wstring path;
  if (!RegistryKey(roots.user, key).ReadString(nullptr, path) &&
      !ReadRegistryStringAnyView(roots.machine, key, nullptr, path)) {
    return std::wstring();
  }
  // Some installers store the path in quotes.
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return IsExistingWindowsFile(path) ? path : std::wstring();
}

}  // namespace os
