// The calling thread's last system error code: GetLastError() on Windows, errno on POSIX.
#pragma once

#include <cstdint>

std::uint32_t LastSystemError();
