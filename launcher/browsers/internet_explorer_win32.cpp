// Internet Explorer, the browser of Windows 7 and 8.1: started with CreateProcessW on exactly
// `"<program files>\Internet Explorer\iexplore.exe" -nohome "<url>"`, waited on with a zero
// time-out, and, once its process has gone, asked through the shell's IShellWindows collection
// (created once: class context 0x17, OleRun, QueryInterface) which URLs its windows show.
#include <windows.h>
#include <exdisp.h>
#include <ole2.h>
#include <oleauto.h>

#include "launcher/browsers/internet_explorer_win32.h"
#include "launcher/os/process_win32.h"
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

constexpr DWORD kAnyServer = 0x17;  // in-process server and handler, local and remote server

// The URL that window `index` of `windows` shows; false when it is not a web browser or cannot
// be asked.
bool WindowUrl(IShellWindows* windows, long index, std::wstring& url) {
  VARIANT which;
  VariantInit(&which);
  which.vt = VT_I4;
  which.lVal = index;
  ComHolder<IDispatch> dispatch;
  HRESULT result = windows->Item(which, reinterpret_cast<IDispatch**>(dispatch.Slot()));
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

class IExploreBrowser final : public Browser {
 public:
  explicit IExploreBrowser(const BrowserChoice& choice) : choice_(choice) {}
  ~IExploreBrowser() override { Close(); }
  IExploreBrowser(const IExploreBrowser&) = delete;
  IExploreBrowser& operator=(const IExploreBrowser&) = delete;

  // COM for the main thread is begun here, for the shell's window collection: no other browser
  // needs the apartment, whose thread must then dispatch messages (Platform::Sleep does).
  bool Start() override {
    if (!comBegun_) comBegun_ = SUCCEEDED(CoInitialize(nullptr));
    // Without the program-files folder there is no browser to start; that was reported when
    // the folder was asked for.
    if (choice_.program.empty()) return false;
    process_ = os::StartWindowsProcess(std::wstring(), WindowsCommandLine(choice_), choice_.workingDir);
    return process_ != nullptr;
  }

  ProcessState CheckProcess() override {
    return process_ ? process_->Check() : ProcessState::kUnknown;
  }

  // Every failure is a miss, as is a window of another run.
  PageCheck ShowsPageUnder(const std::wstring& prefix) override {
    if (!shellWindows_) {
      const HRESULT result = CreateShellWindows();
      if (FAILED(result)) {
        DebugLog("CreateInstance(CLSID_ShellWindows) failed [0x%08x].\n", static_cast<unsigned>(result));
        return PageCheck::kNotShown;
      }
    }
    long count = 0;
    const HRESULT result = shellWindows_->get_Count(&count);
    if (FAILED(result)) {
      DebugLog("ShellWindows->Count failed [0x%08x].\n", static_cast<unsigned>(result));
      return PageCheck::kNotShown;
    }
    for (long i = 0; i < count; ++i) {
      std::wstring url;
      if (!WindowUrl(shellWindows_.get(), i, url)) continue;
      if (url.size() >= prefix.size() && url.compare(0, prefix.size(), prefix) == 0) return PageCheck::kShown;
    }
    return PageCheck::kNotShown;
  }

  // Lets go of the process and of the shell-windows object, then ends the COM apartment.
  void Close() override {
    process_.reset();
    shellWindows_.Reset();
    if (comBegun_) CoUninitialize();
    comBegun_ = false;
  }

  WatchRule Rule() const override { return WatchRule::kProcessThenPages; }

 private:
  HRESULT CreateShellWindows() {
    ComHolder<IUnknown> unknown;
    HRESULT result = CoCreateInstance(CLSID_ShellWindows, nullptr, kAnyServer, IID_IUnknown, unknown.Slot());
    if (SUCCEEDED(result)) {
      result = OleRun(unknown.get());
      if (SUCCEEDED(result)) result = unknown->QueryInterface(IID_IShellWindows, shellWindows_.Slot());
    }
    if (FAILED(result)) shellWindows_.Reset();
    return result;
  }

  BrowserChoice choice_;
  std::unique_ptr<ChildProcess> process_;
  ComHolder<IShellWindows> shellWindows_;
  bool comBegun_ = false;
};

}  // namespace

std::unique_ptr<Browser> NewWindowsInternetExplorer(const BrowserChoice& choice) {
  return std::make_unique<IExploreBrowser>(choice);
}
