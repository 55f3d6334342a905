// The browsers of a POSIX desktop: the facts from browser_facts_posix.cpp, Firefox's lock link;
// no Internet Explorer.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "launcher/browsers/browser_facts_posix.h"
#include "launcher/browsers/browser_system.h"
#include "text/text.h"

namespace {

class PosixBrowsers final : public BrowserSystem {
 public:
  BrowserFacts GatherFacts() override { return GatherPosixBrowserFacts(); }

  bool FirefoxProfileInUse(const std::wstring& profileDir) override {
    // The link reads "ADDRESS:+PID" while Firefox runs on the profile, and stays after a crash.
    char target[256];
    const ssize_t n = readlink((WideToPath(profileDir) + "/lock").c_str(), target, sizeof target);
    if (n <= 0) return false;
    const char* plus = static_cast<const char*>(std::memchr(target, '+', static_cast<std::size_t>(n)));
    if (plus == nullptr) return false;
    pid_t pid = 0;
    const auto [next, error] = std::from_chars(plus + 1, target + n, pid);
    return error == std::errc() && next == target + n && pid > 0 &&
           (kill(pid, 0) == 0 || errno == EPERM);
  }

  std::unique_ptr<Browser> NewInternetExplorer(const BrowserChoice&) override { return nullptr; }
};

}  // namespace

std::unique_ptr<BrowserSystem> NewSystemBrowsers() { return std::make_unique<PosixBrowsers>(); }
