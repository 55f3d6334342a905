// The last system error on POSIX: errno.
#include <cerrno>

#include "text/syserr.h"

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }
