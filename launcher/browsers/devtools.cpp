// DevTools messages over the browser's pipe; see devtools.h.
#include "launcher/browsers/devtools.h"

#include <chrono>

#include <nlohmann/json.hpp>

namespace {

// No exceptions: a parse failure is a discarded value. Depth is bounded by the parser's own
// recursion over what one message (kMaxMessageBytes) can hold.
nlohmann::json Parse(const std::string& text) { return nlohmann::json::parse(text, nullptr, false); }

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string DevToolsCommand(int id, const char* method) {
  nlohmann::json command = {{"id", id}, {"method", method}};
  return command.dump() + '\0';
}

long long DevToolsMessageId(const std::string& message) {
  const nlohmann::json parsed = Parse(message);
  if (parsed.is_discarded() || !parsed.is_object()) return -1;
  const auto id = parsed.find("id");
  if (id == parsed.end() || !id->is_number_integer()) return -1;
  return id->get<long long>();
}

DevToolsPages ReadDevToolsTargets(const std::string& message) {
  DevToolsPages result;
  const nlohmann::json parsed = Parse(message);
  if (parsed.is_discarded() || !parsed.is_object()) return result;
  const auto answer = parsed.find("result");
  if (answer == parsed.end() || !answer->is_object()) return result;
  const auto targets = answer->find("targetInfos");
  if (targets == answer->end() || !targets->is_array()) return result;
  result.readable = true;
  for (const nlohmann::json& target : *targets) {
    if (!target.is_object()) continue;
    const auto type = target.find("type");
    if (type != target.end() && type->is_string() && type->get_ref<const std::string&>() == "page") {
      ++result.pages;
    }
  }
  return result;
}

bool DevToolsSession::AwaitAnswer(long long id, int timeoutMs, std::string& answer) {
  const std::int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    for (std::size_t end; (end = pending_.find('\0')) != std::string::npos;) {
      std::string message = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (DevToolsMessageId(message) == id) {
        answer = std::move(message);
        return true;
      }
    }
    // A message that never ends is no browser's: give up on the pipe rather than grow.
    if (pending_.size() > kMaxMessageBytes) closed_ = true;
    const std::int64_t left = deadline - NowMs();
    if (closed_ || left <= 0) return false;
    // A time-out means the pipe waited out what was left.
    const MessagePipe::ReadResult read = pipe_.Read(pending_, static_cast<int>(left));
    if (read == MessagePipe::ReadResult::kTimeout) return false;
    if (read == MessagePipe::ReadResult::kClosed) closed_ = true;
  }
}

DevToolsPages DevToolsSession::ListPages(int timeoutMs) {
  if (closed_) return DevToolsPages{};
  if (unanswered_ < 0) {
    unanswered_ = nextId_++;
    if (!pipe_.Write(DevToolsCommand(static_cast<int>(unanswered_), "Target.getTargets"))) {
      closed_ = true;
      return DevToolsPages{};
    }
  }
  std::string answer;
  if (!AwaitAnswer(unanswered_, timeoutMs, answer)) return DevToolsPages{};
  unanswered_ = -1;
  return ReadDevToolsTargets(answer);
}

bool DevToolsSession::CloseBrowser() {
  if (closed_) return false;
  if (!pipe_.Write(DevToolsCommand(nextId_++, "Browser.close"))) closed_ = true;
  return !closed_;
}
