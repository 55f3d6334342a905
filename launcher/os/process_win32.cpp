// Programs the run starts, on Windows: CreateProcessW (with a message pipe when asked),
// WaitForSingleObject with a zero time-out, TerminateProcess.
#include "launcher/os/process_win32.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "http/steady_clock.h"
#include "text/text.h"

namespace {

// The most characters a command line may have, its terminating zero included.
constexpr std::size_t kMaxCommandLineChars = 32767;

// How long End waits for a terminated process to be gone.
constexpr DWORD kEndWaitMs = 5000;

constexpr unsigned char kCrtOpen = 0x01;  // FOPEN
constexpr unsigned char kCrtPipe = 0x08;  // FPIPE

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* Slot() { return &handle_; }
  void Reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

// The launcher's ends of a child's message pipe. Anonymous pipes have no waitable reads,
// so a read polls PeekNamedPipe until something is there.
class WindowsMessagePipe final : public MessagePipe {
 public:
  bool Write(const std::string& bytes) override {
    for (std::size_t done = 0; done < bytes.size();) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 65536));
      if (!WriteFile(toChild.get(), bytes.data() + done, chunk, &written, nullptr)) return false;
      done += written;
    }
    return true;
  }

  ReadResult Read(std::string& to, int timeoutMs) override {
    const std::uint64_t deadline = SteadyClockMs() + static_cast<std::uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(fromChild.get(), nullptr, 0, nullptr, &available, nullptr)) return ReadResult::kClosed;
      if (available > 0) {
        char buffer[65536];
        DWORD got = 0;
        if (!ReadFile(fromChild.get(), buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr)) {
          return ReadResult::kClosed;
        }
        to.append(buffer, got);
        return ReadResult::kData;
      }
      const std::uint64_t now = SteadyClockMs();
      if (now >= deadline) return ReadResult::kTimeout;
      ::Sleep(static_cast<DWORD>(std::min<std::uint64_t>(deadline - now, 10)));
    }
  }

  Handle toChild;    // we write; the child reads it as descriptor 3
  Handle fromChild;  // we read; the child writes it as descriptor 4
};

class WindowsChildProcess final : public ChildProcess {
 public:
  WindowsChildProcess(HANDLE process, std::unique_ptr<WindowsMessagePipe> pipe)
      : process_(process), pipe_(std::move(pipe)) {}
  ~WindowsChildProcess() override { CloseHandle(process_); }
  WindowsChildProcess(const WindowsChildProcess&) = delete;
  WindowsChildProcess& operator=(const WindowsChildProcess&) = delete;

  ProcessState Check() override {
    if (exited_) return ProcessState::kExited;
    switch (WaitForSingleObject(process_, 0)) {
      case WAIT_TIMEOUT:
        return ProcessState::kRunning;
      case WAIT_OBJECT_0:
        exited_ = true;
        return ProcessState::kExited;
      default:
        return ProcessState::kUnknown;
    }
  }

  void End() override {
    if (Check() == ProcessState::kExited) return;
    if (!TerminateProcess(process_, 0)) {
      DebugLog("TerminateProcess failed [%lu].\n", static_cast<unsigned long>(GetLastError()));
    }
    if (WaitForSingleObject(process_, kEndWaitMs) == WAIT_OBJECT_0) exited_ = true;
  }

  MessagePipe* Pipe() override { return pipe_.get(); }

 private:
  HANDLE process_;
  std::unique_ptr<WindowsMessagePipe> pipe_;
  bool exited_ = false;
};

// The child's pointer size: a 64-bit program reads 8-byte handles whatever the launcher's size.
std::size_t ChildHandleBytes(const std::wstring& program) {
  DWORD type = 0;
  if (!program.empty() && GetBinaryTypeW(program.c_str(), &type)) {
    if (type == SCS_64BIT_BINARY) return 8;
    if (type == SCS_32BIT_BINARY) return 4;
  }
  return sizeof(HANDLE);
}

// Two pipes whose child ends (`childReads`, `childWrites`) are inheritable and ours are not.
std::unique_ptr<WindowsMessagePipe> MakePipe(Handle& childReads, Handle& childWrites) {
  auto pipe = std::make_unique<WindowsMessagePipe>();
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(childReads.Slot(), pipe->toChild.Slot(), &inherit, 0) ||
      !CreatePipe(pipe->fromChild.Slot(), childWrites.Slot(), &inherit, 0) ||
      !SetHandleInformation(pipe->toChild.get(), HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(pipe->fromChild.get(), HANDLE_FLAG_INHERIT, 0)) {
    DebugLog("CreatePipe failed [%lu].\n", static_cast<unsigned long>(GetLastError()));
    childReads.Reset();
    childWrites.Reset();
    return nullptr;
  }
  return pipe;
}

// An attribute list that lets the child inherit `handles` and nothing else (our sockets are
// inheritable by default).
class InheritOnly {
 public:
  explicit InheritOnly(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
      list_ = nullptr;
      return;
    }
    if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  ~InheritOnly() {
    if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
  }
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

namespace os {

std::vector<unsigned char> CrtDescriptors(const std::vector<std::uint64_t>& handles,
                                          std::size_t handleBytes) {
  const std::uint32_t count = static_cast<std::uint32_t>(handles.size());
  std::vector<unsigned char> block;
  for (int i = 0; i < 4; ++i) block.push_back(static_cast<unsigned char>(count >> (8 * i)));
  for (std::uint32_t fd = 0; fd < count; ++fd) block.push_back(fd < 3 ? 0 : kCrtOpen | kCrtPipe);
  for (std::uint32_t fd = 0; fd < count; ++fd) {
    // INVALID_HANDLE_VALUE is -1 in either width.
    const std::uint64_t value = fd < 3 ? ~std::uint64_t{0} : handles[fd];
    for (std::size_t i = 0; i < handleBytes; ++i) block.push_back(static_cast<unsigned char>(value >> (8 * i)));
  }
  return block;
}

std::unique_ptr<ChildProcess> StartWindowsProcess(const std::wstring& program,
                                                  const std::wstring& commandLine,
                                                  const std::wstring& folder, bool messagePipe) {
  // Wine would cut a longer line short instead of failing.
  if (commandLine.size() >= kMaxCommandLineChars) {
    DebugLog("CreateProcess failed [%lu].\n", static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE));
    return nullptr;
  }
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;

  Handle childReads, childWrites;
  std::unique_ptr<WindowsMessagePipe> pipe;
  if (messagePipe) pipe = MakePipe(childReads, childWrites);
  std::unique_ptr<InheritOnly> inheritOnly;
  std::vector<unsigned char> descriptors;
  if (pipe) {
    inheritOnly = std::make_unique<InheritOnly>(std::vector<HANDLE>{childReads.get(), childWrites.get()});
    if (inheritOnly->get() == nullptr) {
      DebugLog("no handle list for the child's pipe [%lu].\n", static_cast<unsigned long>(GetLastError()));
      pipe.reset();
    }
  }
  if (pipe) {
    descriptors = os::CrtDescriptors(
        {0, 0, 0, reinterpret_cast<std::uintptr_t>(childReads.get()), reinterpret_cast<std::uintptr_t>(childWrites.get())},
        ChildHandleBytes(program));
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.cbReserved2 = static_cast<WORD>(descriptors.size());
    startup.StartupInfo.lpReserved2 = descriptors.data();
    startup.lpAttributeList = inheritOnly->get();
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr,
                      pipe ? TRUE : FALSE, pipe ? EXTENDED_STARTUPINFO_PRESENT : 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &info)) {
    DebugLog("CreateProcess failed [%lu].\n", static_cast<unsigned long>(GetLastError()));
    return nullptr;
  }
  CloseHandle(info.hThread);
  // The child's ends close here (Handle): once the child is gone, our reads see the pipe broken.
  return std::make_unique<WindowsChildProcess>(info.hProcess, std::move(pipe));
}

}  // namespace os
