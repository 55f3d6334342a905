// Browser-window probe for Windows: the shell's IShellWindows collection, created once (class
// context 0x17, OleRun, QueryInterface) and kept in a process-wide holder; each window that is a
// web browser reports its LocationURL.
#include <windows.h>
#include <exdisp.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>

#include "launcher/probe.h"
#include "launcher/session.h"
#include "text/text.h"

namespace {

// Owns one reference to a COM interface; Release on destruction and on Reset.
template <class T>
class ComHolder {
 public:
  ComHolder() = default;
  ~ComHolder() { Reset(); }
  ComHolder(const ComHolder&) = delete;
  ComHolder& operator=(const ComHolder&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The slot an out-parameter fills; the holder must be empty.
  void** Slot() { return reinterpret_cast<void**>(&p_); }
  // Empties the holder first, then releases what it held.
  void Reset() {
    T* held = p_;
    p_ = nullptr;
    if (held != nullptr) held->Release();
  }

 private:
  T* p_ = nullptr;
};

// The process-wide holder of the shell-windows object.
ComHolder<IShellWindows> TheShellWindows;

constexpr DWORD kAnyServer = 0x17;  // in-process server and handler, local and remote server

HRESULT CreateShellWindows() {
  ComHolder<IUnknown> unknown;
  HRESULT result =
      CoCreateInstance(CLSID_ShellWindows, nullptr, kAnyServer, IID_IUnknown, unknown.Slot());
  if (SUCCEEDED(result)) {
    result = OleRun(unknown.get());
    if (SUCCEEDED(result)) result = unknown->QueryInterface(IID_IShellWindows, TheShellWindows.Slot());
  }
  if (FAILED(result)) TheShellWindows.Reset();
  return result;
}

// The URL that window `index` shows; false when it is not a web browser or cannot be asked.
bool WindowUrl(long index, std::wstring& url) {
  VARIANT which;
  VariantInit(&which);
  which.vt = VT_I4;
  which.lVal = index;
  ComHolder<IDispatch> dispatch;
  HRESULT result = TheShellWindows->Item(which, reinterpret_cast<IDispatch**>(dispatch.Slot()));
  VariantClear(&which);
  if (FAILED(result)) {
    DebugLog("ShellWindows->Item(%li) failed [0x%08x].\n", index, static_cast<unsigned>(result));
    return false;
  }
  if (!dispatch) return false;
  // E_NOINTERFACE means the window is no web browser; any other failure skips it as well.
  ComHolder<IWebBrowserApp> browser;
  if (FAILED(dispatch->QueryInterface(IID_IWebBrowserApp, browser.Slot())) || !browser) return false;
  BSTR location = nullptr;
  result = browser->get_LocationURL(&location);
  if (FAILED(result)) {
    DebugLog("IWebBrowserApp->LocationURL failed [0x%08x].\n", static_cast<unsigned>(result));
    return false;
  }
  url = location != nullptr ? std::wstring(location, SysStringLen(location)) : std::wstring();
  SysFreeString(location);
  return true;
}

}  // namespace

namespace os {

bool ProbeBrowserWindow(BrowserProcess&, const HttpServer&) {
  if (!TheShellWindows) {
    const HRESULT result = CreateShellWindows();
    if (FAILED(result)) {
      DebugLog("CreateInstance(CLSID_ShellWindows) failed [0x%08x].\n", static_cast<unsigned>(result));
      return false;
    }
  }
  long count = 0;
  const HRESULT result = TheShellWindows->get_Count(&count);
  if (FAILED(result)) {
    DebugLog("ShellWindows->Count failed [0x%08x].\n", static_cast<unsigned>(result));
    return false;
  }
  for (long i = 0; i < count; ++i) {
    std::wstring url;
    if (!WindowUrl(i, url)) continue;
    if (url.size() >= SessionUrl.size() && url.compare(0, SessionUrl.size(), SessionUrl) == 0) {
      return true;
    }
  }
  return false;
}

void ReleaseBrowserWindowProbe() { TheShellWindows.Reset(); }

}  // namespace os
