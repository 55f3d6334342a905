// The clock of the server's activity and time-out bookkeeping (HttpHandler::LastActivityMs,
// connection progress): std::chrono::steady_clock, in milliseconds.
#pragma once

#include <chrono>
#include <cstdint>

inline std::uint64_t SteadyClockMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
