// The DevTools protocol over the pipe a Chromium-family browser is given with
// --remote-debugging-pipe: JSON messages, each ended by a NUL byte, the browser reading ours on
// its descriptor 3 and writing its own on descriptor 4. The browser is another program, so
// everything read here accepts any bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/os/message_pipe.h"

// What an answer to Target.getTargets tells.
struct DevToolsPages {
  bool readable = false;  // an answer with a "targetInfos" array (of anything)
  int pages = 0;          // entries whose "type" is "page": a tab or window showing something
};

// The message for a method without parameters, NUL included: {"id":ID,"method":"METHOD"}.
std::string DevToolsCommand(int id, const char* method);

// The "id" of a message, or -1 when it has none (an event) or is no JSON object.
long long DevToolsMessageId(const std::string& message);

// Reads the answer to Target.getTargets with nlohmann-json: {"id":..,"result":{"targetInfos":
// [..]}}. An error answer, malformed JSON or a missing array gives readable false.
DevToolsPages ReadDevToolsTargets(const std::string& message);

// One conversation with the browser over its pipe: a command at a time, its answer picked out of
// the messages that arrive (events are skipped).
class DevToolsSession {
 public:
  explicit DevToolsSession(MessagePipe& pipe) : pipe_(pipe) {}

  // Target.getTargets, waiting up to `timeoutMs` for its answer; readable false without one.
  // While an earlier one is unanswered, its answer is waited for instead of asking again, so a
  // browser that never reads (remote debugging refused) never has more than one command waiting
  // in the pipe and a write never blocks on a full pipe.
  DevToolsPages ListPages(int timeoutMs);
  // Browser.close: the browser closes its windows and ends. False when it could not be sent.
  bool CloseBrowser();
  // True once the browser's end of the pipe is closed, or it sent more than a message may hold.
  bool Closed() const { return closed_; }

 private:
  // The answer to command `id` within `timeoutMs`; false on time-out or a closed pipe.
  bool AwaitAnswer(long long id, int timeoutMs, std::string& answer);

  static constexpr std::size_t kMaxMessageBytes = 16u << 20;

  MessagePipe& pipe_;
  std::string pending_;  // bytes read past the last complete message
  int nextId_ = 1;
  long long unanswered_ = -1;  // the Target.getTargets still waiting for its answer
  bool closed_ = false;
};
