#include <unistd.h>

#include <cstdio>
#include <memory>

#include "launcher/os/account.h"
#include "launcher/os/xdg_posix.h"
#include "text/split.h"
#include "text/text.h"

namespace os {

bool AccountOfPasswd(const std::string& passwd, unsigned long uid, AccountNames* names) {
  for (const std::string& line : SplitText(passwd, '\n')) {
    const std::vector<std::string> fields = SplitText(line, ':');
    if (fields.size() < 5 || fields[0].empty() || fields[2] != std::to_string(uid)) continue;
    names->login = PathToWide(fields[0]);
    names->fullName = PathToWide(fields[4].substr(0, fields[4].find(',')));
    return true;
  }
  return false;
}

AccountNames CurrentAccount() {
  AccountNames names;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen("/etc/passwd", "rb"), std::fclose);
  if (file) {
    std::string text(4 << 20, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (AccountOfPasswd(text, static_cast<unsigned long>(getuid()), &names)) return names;
  }
  std::string login = Env("USER");
  if (login.empty()) login = Env("LOGNAME");
  names.login = PathToWide(login);
  return names;
}

}  // namespace os
