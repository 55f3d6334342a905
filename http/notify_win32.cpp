// Socket notifications on Windows: the server thread owns a message-only window of class
// "ktx.http"; WSAAsyncSelect posts message 1468 to it for every socket event, and the window
// procedure hands each to the core's handler. Readiness is an event that Start waits for;
// Stop posts thread message 2023 and terminates a thread that has not ended within 3 s.
#include <winsock2.h>
#include <windows.h>

#include "http/connection.h"
#include "http/server_core.h"
#include "http/steady_clock.h"
#include "text/text.h"

namespace {

constexpr UINT kSocketEventMessage = WM_USER + 444;  // 1468
constexpr UINT kStopMessage = WM_USER + 999;         // 2023
// Posted to the window by the core itself after a record was retired: every notification
// queued for that socket before the record stopped taking them has then been delivered.
constexpr UINT kReleaseMessage = WM_USER + 445;
constexpr long kSocketEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;  // 43
constexpr DWORD kStartWaitMs = 10000;
constexpr DWORD kStopWaitMs = 3000;
constexpr UINT_PTR kAcceptTimer = 1;
// Every so often the core ends stalled answers and finished drains (EndOverdue).
constexpr UINT_PTR kDeadlineTimer = 2;
constexpr UINT kDeadlineCheckMs = 500;
// How long the listening socket is left alone after accept ran out of descriptors or buffers.
constexpr UINT kAcceptPauseMs = 100;
constexpr wchar_t kWindowClass[] = L"ktx.http";

}  // namespace

struct ServerThread {
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  // Kept until the thread is gone, so a thread that signals it late never signals a handle
  // value that has meanwhile been reused.
  HANDLE readyEvent = nullptr;
  HWND window = nullptr;        // server thread only
  bool acceptPaused = false;    // server thread only
  bool acceptOnRelease = false; // server thread only: accept once a record has been released

  ~ServerThread() {
    if (thread) CloseHandle(thread);
    if (readyEvent) CloseHandle(readyEvent);
  }
};

void ServerThreadDeleter::operator()(ServerThread* thread) const { delete thread; }

namespace {

DWORD WINAPI ServerThreadMain(LPVOID parameter) {
  static_cast<ServerCore*>(parameter)->Run();
  return 0;
}

void DispatchSocketEvent(ServerCore& core, ServerThread& state, SocketHandle socket, WORD event,
                         WORD error) {
  if (error != 0) DebugLog("SOCKET EVENT WITH ERROR %d\n", error);
  switch (event) {
    case FD_READ:
      DebugLog("FD_READ %d\n", static_cast<int>(socket));
      core.OnRead(socket);  // a peer's end of stream arrives as FD_CLOSE of its own
      break;
    case FD_WRITE:
      DebugLog("FD_WRITE %d\n", static_cast<int>(socket));
      core.OnWrite(socket);
      break;
    case FD_ACCEPT:
      DebugLog("FD_ACCEPT\n");
      // While paused, accept is not called, so Winsock does not report the waiting connection
      // again until the timer has resumed accepting.
      if (!state.acceptPaused) core.OnAccept(socket);
      break;
    case FD_CLOSE:
      DebugLog("FD_CLOSE %d\n", static_cast<int>(socket));
      // Without an error the peer has only finished sending: an answer under way goes on.
      if (error == 0) {
        core.OnPeerClosed(socket);
      } else {
        core.OnClose(socket);
      }
      break;
    default:
      break;
  }
}

LRESULT CALLBACK ServerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ServerCore* core = reinterpret_cast<ServerCore*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case kSocketEventMessage:
      if (core && core->Thread()) {
        DispatchSocketEvent(*core, *core->Thread(), static_cast<SocketHandle>(wParam),
                            WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
      }
      return 0;
    case kReleaseMessage:
      if (core) {
        core->Release(static_cast<SocketHandle>(wParam));
        ServerThread* state = core->Thread();
        if (state && state->acceptOnRelease) {
          // A descriptor has just been given back for the connection waiting in the backlog.
          state->acceptOnRelease = false;
          state->acceptPaused = false;
          core->OnAccept(core->ListeningSocket());
        }
      }
      return 0;
    case WM_TIMER:
      if (wParam == kDeadlineTimer) {
        if (core) core->EndOverdue(SteadyClockMs());
        return 0;
      }
      if (wParam == kAcceptTimer) {
        KillTimer(window, kAcceptTimer);
        if (core && core->Thread()) {
          core->Thread()->acceptPaused = false;
          core->OnAccept(core->ListeningSocket());
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::string ServerCore::Start(std::uint32_t port) {
  if (thread_) return BaseUrl();
  port_ = port;
  thread_.reset(new ServerThread);
  ServerThread& state = *thread_;
  state.readyEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  state.thread = CreateThread(nullptr, 0, ServerThreadMain, this, 0, &state.threadId);
  if (state.thread) {
    const HANDLE waitFor[2] = {state.thread, state.readyEvent};
    WaitForMultipleObjects(state.readyEvent ? 2 : 1, waitFor, FALSE, kStartWaitMs);
  }
  return BaseUrl();
}

bool ServerCore::Stop() {
  if (!thread_ || !thread_->thread) return true;
  ServerThread& state = *thread_;
  PostThreadMessageW(state.threadId, kStopMessage, 0, 0);
  if (WaitForSingleObject(state.thread, kStopWaitMs) != WAIT_OBJECT_0) {
    TerminateThread(state.thread, static_cast<DWORD>(-1));
    WaitForSingleObject(state.thread, kStopWaitMs);  // termination completes asynchronously
  }
  thread_.reset();
  return true;
}

void ServerCore::Run() {
  ServerThread& state = *thread_;
  const SocketHandle listening = OpenListeningSocket();
  if (listening == kInvalidSocket) return;

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ServerWndProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  // Fails when an earlier server of this process registered the class; the window is created
  // by the class name, which works either way.
  RegisterClassExW(&windowClass);
  state.window = CreateWindowExW(0, kWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 instance, this);
  if (!state.window) {
    DebugLog("Error creating msg window\n");
    CloseSocket(listening);
    listening_ = kInvalidSocket;
    return;
  }
  if (WSAAsyncSelect(static_cast<SOCKET>(listening), state.window, kSocketEventMessage, kSocketEvents) != 0) {
    DebugLog("WSAAsyncSelect failed\n");
    CloseSocket(listening);
    listening_ = kInvalidSocket;
    DestroyWindow(state.window);
    state.window = nullptr;
    return;
  }
  SetTimer(state.window, kDeadlineTimer, kDeadlineCheckMs, nullptr);
  SetEvent(state.readyEvent);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == kStopMessage) {
      DebugLog("server stopping\n");
      break;
    }
    DispatchMessageW(&message);
  }
  DestroyWindow(state.window);
  state.window = nullptr;
  CloseSocket(listening);
  listening_ = kInvalidSocket;
}

void ServerCore::ScheduleRelease(SocketHandle socket) {
  const HWND window = thread_ ? thread_->window : nullptr;
  if (!window) return;  // no loop any more: the records are freed with the core
  // After this no new notification is posted for the socket; those already queued come
  // before the release message and find the record retired.
  WSAAsyncSelect(static_cast<SOCKET>(socket), window, 0, 0);
  PostMessageW(window, kReleaseMessage, static_cast<WPARAM>(socket), 0);
}

void ServerCore::ContinueWriting(SocketHandle socket) {
  const HWND window = thread_ ? thread_->window : nullptr;
  // Queued behind the notifications already waiting, so every other connection has its turn
  // first; it comes before any release message of this socket (posted later), so it cannot
  // reach a newer connection with the same handle.
  if (window) PostMessageW(window, kSocketEventMessage, static_cast<WPARAM>(socket), WSAMAKESELECTREPLY(FD_WRITE, 0));
}

void ServerCore::AcceptAfterRelease() {
  if (!thread_ || !thread_->window) return;
  // Accepting waits for the release message that ScheduleRelease has just posted.
  thread_->acceptPaused = true;
  thread_->acceptOnRelease = true;
}

void ServerCore::PauseAccepting() {
  if (!thread_ || !thread_->window) return;
  thread_->acceptPaused = true;
  SetTimer(thread_->window, kAcceptTimer, kAcceptPauseMs, nullptr);
}
