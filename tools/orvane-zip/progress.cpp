// Progress: one line on standard error, ended by a carriage return until the pack is done.
#include "tools/orvane-zip/progress.h"

#include <cstdio>

namespace orvanezip {

Progress::Progress(bool on, std::uint64_t bytes)
    : enabled(on), total(bytes), start(std::chrono::steady_clock::now()), last(start) {}

void Progress::Show(std::uint64_t done) {
  if (!enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start < std::chrono::seconds(1) || now - last < std::chrono::milliseconds(200)) return;
  last = now;
  const double seconds = std::chrono::duration<double>(now - start).count();
  const double mb = 1024.0 * 1024.0;
  std::fprintf(stderr, "\rpacking: %.1f of %.1f MB, %.1f MB/s   ", done / mb, total / mb, done / mb / seconds);
  std::fflush(stderr);
  shown = true;
}

void Progress::Done() {
  if (!shown) return;
  std::fputc('\n', stderr);
  shown = false;
}

}  // namespace orvanezip
