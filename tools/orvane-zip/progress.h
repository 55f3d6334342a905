// The progress line of a long pack on standard error: bytes done of the total and the rate,
// rewritten in place. Shown only when enabled (standard error is a terminal) and only once the
// pack has taken more than a second, so short packs and logs stay quiet.
#pragma once

#include <chrono>
#include <cstdint>

namespace orvanezip {

class Progress {
 public:
  Progress(bool enabled, std::uint64_t total);
  // Shows `done` bytes, at most five times a second.
  void Show(std::uint64_t done);
  // Ends the line, if one was shown.
  void Done();

 private:
  bool enabled;
  std::uint64_t total;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point last;
  bool shown = false;
};

}  // namespace orvanezip
