// Error message box for Windows: MessageBoxW without owner or caption, error icon, OK only.
#include <windows.h>

#include "launcher/os/alert.h"

namespace os {

void ShowErrorAlert(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), nullptr, MB_ICONERROR);
}

}  // namespace os
