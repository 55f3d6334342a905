// Reading the registry on Windows: one key held open, string and number values, either view of
// the machine's keys, and the App Paths registrations of programs. Read only.
#pragma once

#include <windows.h>

#include <string>

namespace os {

// An open registry key, closed on destruction.
class RegistryKey {
 public:
  // Opens `root`\`subkey` for reading; `view` adds KEY_WOW64_64KEY or KEY_WOW64_32KEY (ignored
  // on 32-bit Windows). Not open() when the key is missing or may not be read.
  RegistryKey(HKEY root, const std::wstring& subkey, REGSAM view = 0);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool open() const { return key_ != nullptr; }

  // The value `name` (nullptr: the key's default value) when it is REG_SZ, or REG_EXPAND_SZ with
  // its %VARIABLES% expanded; false when it is missing, of another type or unreadable.
  bool ReadString(const wchar_t* name, std::wstring& value) const;

 private:
  HKEY key_ = nullptr;
};

// `text` with its %VARIABLES% expanded from the environment; as it is when that fails.
std::wstring ExpandEnvironment(const std::wstring& text);

// ReadString of `root`\`subkey`, first in the 64-bit view, then in the 32-bit one: where a
// browser installed for the machine registers itself depends on the installer's bitness.
bool ReadRegistryStringAnyView(HKEY root, const std::wstring& subkey, const wchar_t* name,
                               std::wstring& value);

// The two roots the user's and the machine's values are read from; tests point them at keys of
// their own.
struct RegistryRoots {
  HKEY user = HKEY_CURRENT_USER;
  HKEY machine = HKEY_LOCAL_MACHINE;
};

// The program registered under App Paths for `name` (".exe" added when it has no extension),
// the user's registration before the machine's (either view), as the shell finds a program typed
// without its folder; "" when there is none or its file is missing.
std::wstring RegisteredAppPath(const RegistryRoots& roots, const std::wstring& name);

}  // namespace os
