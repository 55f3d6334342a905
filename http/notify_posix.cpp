// Socket notifications on POSIX: the server thread is a std::thread running one poll() loop
// over a wake pipe, the listening socket and every live connection, and it delivers the same
// four notifications as Winsock's WSAAsyncSelect: accept, read, write (asked for only while a
// response is pending) and close (hang-up or error; the peer's end of stream is a half-close). Readiness is
// reported through a condition variable; Stop writes to the wake pipe.
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "http/connection.h"
#include "http/server_core.h"
#include "http/steady_clock.h"
#include "text/text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(3);
// How long the listening socket is left alone after accept ran out of descriptors.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// After this long without a connection, memory freed by earlier responses is given back.
constexpr int kIdleTrimMs = 1000;
constexpr std::size_t kTrimAfterBytes = 1 << 20;

// Gives the C library's free memory back to the system. glibc keeps blocks freed by recent
// responses in its heap (its threshold for mapping a block on its own follows the largest
// block freed), so a burst of large answers would leave the process that large; other C
// libraries return large blocks as they are freed.
void ReturnFreeMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

bool MakePipe(int fds[2]) {
  if (pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    fcntl(fds[i], F_SETFL, fcntl(fds[i], F_GETFL) | O_NONBLOCK);
    fcntl(fds[i], F_SETFD, FD_CLOEXEC);
  }
  return true;
}

}  // namespace

struct ServerThread {
  std::thread thread;
  std::mutex lock;
  std::condition_variable changed;
  bool ready = false;  // listening, about to poll (under `lock`)
  bool ended = false;  // Run has finished (under `lock`)
  std::atomic<bool> stopRequested{false};
  int wakeRead = -1;
  int wakeWrite = -1;
  Clock::time_point acceptPausedUntil{};  // server thread only

  ~ServerThread() {
    if (wakeRead >= 0) close(wakeRead);
    if (wakeWrite >= 0) close(wakeWrite);
  }
};

void ServerThreadDeleter::operator()(ServerThread* thread) const { delete thread; }

std::string ServerCore::Start(std::uint32_t port) {
  if (thread_) return BaseUrl();
  port_ = port;
  thread_.reset(new ServerThread);
  ServerThread& state = *thread_;
  int fds[2];
  if (!MakePipe(fds)) {
    DebugLog("pipe() failed [%lu].\n", static_cast<unsigned long>(errno));
    thread_.reset();
    return BaseUrl();
  }
  state.wakeRead = fds[0];
  state.wakeWrite = fds[1];
  try {
    state.thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    thread_.reset();
    return BaseUrl();
  }
  std::unique_lock<std::mutex> lock(state.lock);
  state.changed.wait_for(lock, kStartWait, [&] { return state.ready || state.ended; });
  return BaseUrl();
}

bool ServerCore::Stop() {
  if (!thread_ || !thread_->thread.joinable()) return true;
  ServerThread& state = *thread_;
  state.stopRequested = true;
  const char wake = 0;
  if (write(state.wakeWrite, &wake, 1) < 0) {
    // A full pipe already holds a wake-up; the flag above is what the loop checks.
  }
  bool ended;
  {
    std::unique_lock<std::mutex> lock(state.lock);
    ended = state.changed.wait_for(lock, kStopWait, [&] { return state.ended; });
  }
  if (!ended) {
    // No thread can be killed safely here: leave it running, with everything it uses.
    DebugLog("server thread did not stop within 3 s; left running\n");
    state.thread.detach();
    return false;
  }
  state.thread.join();
  thread_.reset();
  return true;
}

void ServerCore::Run() {
  ServerThread& state = *thread_;
  const SocketHandle listening = OpenListeningSocket();
  if (listening != kInvalidSocket) {
    {
      std::lock_guard<std::mutex> lock(state.lock);
      state.ready = true;
      state.changed.notify_all();
    }
    std::vector<pollfd> watched;
    while (!state.stopRequested) {
      watched.clear();
      watched.push_back({state.wakeRead, POLLIN, 0});
      int timeoutMs = -1;
      const Clock::time_point now = Clock::now();
      const std::uint64_t nowMs = SteadyClockMs();
      const std::uint64_t nextDeadline = EndOverdue(nowMs);
      ReleaseRetired();
      const bool watchListening = now >= state.acceptPausedUntil;
      if (watchListening) {
        watched.push_back({listening, POLLIN, 0});
      } else {
        timeoutMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(state.acceptPausedUntil - now).count() + 1);
      }
      const std::size_t firstClient = watched.size();
      for (const auto& [socket, connection] : Connections()) {
        if (connection->IsRetired()) continue;
        // A peer that has half-closed stays readable for good: it is only written to.
        const short events = static_cast<short>((connection->PeerClosed() ? 0 : POLLIN) |
                                                (connection->HasPending() ? POLLOUT : 0));
        watched.push_back({socket, events, 0});
      }
      if (nextDeadline != 0) {
        const int untilDeadline = static_cast<int>(nextDeadline - nowMs);
        if (timeoutMs < 0 || untilDeadline < timeoutMs) timeoutMs = untilDeadline;
      }
      // Idle after large answers: wake once more to give their memory back.
      const bool trimWhenIdle = watched.size() == firstClient && FreedSinceTrim() >= kTrimAfterBytes;
      if (trimWhenIdle && (timeoutMs < 0 || timeoutMs > kIdleTrimMs)) timeoutMs = kIdleTrimMs;

      const int ready = poll(watched.data(), watched.size(), timeoutMs);
      if (ready == 0 && trimWhenIdle) {
        ReturnFreeMemory();
        ForgetFreed();
      }
      if (ready < 0) {
        if (errno != EINTR) {
          DebugLog("poll() failed [%lu].\n", static_cast<unsigned long>(errno));
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        continue;
      }
      if (watched[0].revents) {
        char drained[64];
        while (read(state.wakeRead, drained, sizeof drained) > 0) {
        }
        if (state.stopRequested) {
          DebugLog("server stopping\n");
          break;
        }
      }
      // A new connection first, so a small request never waits behind a round of the others'
      // work; one per round: poll reports the listening socket again while more wait, so no
      // accept is made only to be told "would block". A record retired during this round
      // keeps its socket open until the round ends, so no connection accepted in it can carry
      // a handle value that appears below.
      if (watchListening && (watched[1].revents & POLLIN)) OnAccept(listening);
      for (std::size_t i = firstClient; i < watched.size(); ++i) {
        const short events = watched[i].revents;
        const SocketHandle socket = watched[i].fd;
        if (events & POLLIN) {
          const ReadOutcome outcome = OnRead(socket);
          if (outcome == ReadOutcome::kPeerClosed) OnPeerClosed(socket);
          if (outcome == ReadOutcome::kFailed) OnClose(socket);
        }
        if (events & POLLOUT) OnWrite(socket);
        if (events & (POLLERR | POLLHUP | POLLNVAL)) OnClose(socket);
      }
      ReleaseRetired();
    }
    CloseSocket(listening);
    listening_ = kInvalidSocket;
  }
  std::lock_guard<std::mutex> lock(state.lock);
  state.ended = true;
  state.changed.notify_all();
}

void ServerCore::ScheduleRelease(SocketHandle) {
  // Nothing to do: the loop releases retired records at the end of each round.
}

void ServerCore::ContinueWriting(SocketHandle) {
  // Nothing to do: the next round's poll() reports the socket writable again.
}

void ServerCore::PauseAccepting() {
  if (thread_) thread_->acceptPausedUntil = Clock::now() + kAcceptPause;
}

void ServerCore::AcceptAfterRelease() {
  // Nothing to do: the round's end releases retired records, closing their sockets, before the
  // next round watches the listening socket again.
}
