// Fuzzes what the launcher reads from a Chromium-family browser, another program: the first
// line of DevToolsActivePort and the /json/list answer. Any bytes must give an answer, and the
// answer must be consistent: a port only from a line that starts with a digit, never more
// matching pages than pages, and the empty prefix matching at least what a longer one does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/browsers/devtools.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::uint16_t port = DevToolsPortFromFile(text);
  Require(port == 0 || (text.size() > 0 && text[0] >= '0' && text[0] <= '9'));

  const DevToolsPages pages = ReadDevToolsPages(text, "http://127.0.0.1:4711/ab/");
  Require(pages.matching <= pages.pages);
  Require(pages.readable || pages.pages == 0);
  const DevToolsPages all = ReadDevToolsPages(text, "");
  Require(all.readable == pages.readable && all.pages == pages.pages);
  Require(all.matching >= pages.matching && all.matching <= all.pages);
  return 0;
}
