// Who the learner is, as the system knows the account running the launcher.
#pragma once

#include <string>

namespace os {

struct AccountNames {
  std::wstring login;     // the account name; "" when it cannot be found
  std::wstring fullName;  // the name the system shows for it; "" when it has none
};

// POSIX (account_posix.cpp): the line of the real user id in /etc/passwd, read directly (a
// static program has no NSS): its first field and its GECOS field's first part; else $USER or
// $LOGNAME with no full name. Windows (account_win32.cpp): GetUserNameW and
// GetUserNameExW(NameDisplay).
AccountNames CurrentAccount();

// The account's line among `passwd`'s lines (NAME:PASSWORD:UID:GID:GECOS:HOME:SHELL) for `uid`:
// the name and the GECOS field up to its first comma. False when no line has that uid.
bool AccountOfPasswd(const std::string& passwd, unsigned long uid, AccountNames* names);

}  // namespace os
