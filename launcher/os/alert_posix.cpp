// Error message box for POSIX: the text on stderr, and a desktop dialog (zenity, else kdialog,
// else xmessage) when a display is present, waited for like a modal box. Without a display
// nothing waits.
#include <cstdio>
#include <cstdlib>

#include "launcher/os/alert.h"
#include "launcher/os/spawn_posix.h"
#include "text/text.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace

namespace os {

void ShowErrorAlert(const std::wstring& text) {
  const std::string message = WideToAnsi(text);
  std::fprintf(stderr, "orvane: %s\n", message.c_str());
  std::fflush(stderr);
  if (!HasDisplay()) return;
  // Each dialog gets the text as one argument, so nothing in it is read as an option or markup.
  const std::vector<std::vector<std::string>> dialogs = {
      {"zenity", "--error", "--no-markup", "--text=" + message},
      {"kdialog", "--error", message},
      {"xmessage", "-center", message},
  };
  for (const std::vector<std::string>& dialog : dialogs) {
    const std::string path = FindProgram(dialog[0]);
    if (path.empty()) continue;
    const pid_t pid = SpawnProgram(path, dialog);
    if (pid < 0) continue;
    WaitForExit(pid);
    return;
  }
}

}  // namespace os
