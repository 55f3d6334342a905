// The error message box (alert_win32.cpp / alert_posix.cpp).
#pragma once

#include <string>

namespace os {

// Windows: MessageBoxW(NULL, text, NULL, MB_ICONERROR), modal until dismissed. POSIX: the text on
// stderr, then, when a display is present (DISPLAY or WAYLAND_DISPLAY), a dialog by zenity, else
// kdialog, else xmessage, waited for; without a display it never blocks.
void ShowErrorAlert(const std::wstring& text);

}  // namespace os
