#include <windows.h>
#define SECURITY_WIN32
#include <secext.h>

#include "launcher/os/account.h"

namespace os {

AccountNames CurrentAccount() {
  AccountNames names;
  wchar_t buffer[512];
  DWORD size = ARRAYSIZE(buffer);
  if (GetUserNameW(buffer, &size) && size > 0) names.login.assign(buffer, size - 1);
  ULONG length = ARRAYSIZE(buffer);
  if (GetUserNameExW(NameDisplay, buffer, &length) && length > 0) names.fullName.assign(buffer, length);
  return names;
}

}  // namespace os
