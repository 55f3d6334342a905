// Fuzzes what the launcher reads from a Chromium-family browser, another program: the messages
// of its DevTools pipe. Any bytes must give an answer, and the answer must be consistent: no
// pages without a readable list; a session fed the bytes in pieces reads the same answer as the
// message read whole, and never sends a second command while the first is unanswered.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/browsers/devtools.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Delivers the input in pieces whose lengths come from the input's own first byte, then ends.
class InputPipe : public MessagePipe {
 public:
  InputPipe(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  std::vector<std::string> written;
  bool Write(const std::string& bytes) override {
    written.push_back(bytes);
    return true;
  }
  ReadResult Read(std::string& to, int) override {
    if (at_ >= bytes_.size()) return ReadResult::kClosed;
    to += bytes_.substr(at_, piece_);
    at_ += piece_;
    return ReadResult::kData;
  }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const DevToolsPages whole = ReadDevToolsTargets(text);
  Require(whole.pages >= 0 && (whole.readable || whole.pages == 0));
  DevToolsMessageId(text);

  // The same bytes as the answer to the session's first command (id 1), cut into pieces.
  const std::size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
  InputPipe pipe(text + std::string(1, '\0'), piece);
  DevToolsSession session(pipe);
  const DevToolsPages answered = session.ListPages(1000);
  if (text.find('\0') == std::string::npos && DevToolsMessageId(text) == 1) {
    Require(answered.readable == whole.readable && answered.pages == whole.pages);
  }
  session.ListPages(1000);
  Require(pipe.written.size() <= 2);
  return 0;
}
