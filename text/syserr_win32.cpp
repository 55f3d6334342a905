// The last system error on Windows: GetLastError().
#include <windows.h>

#include "text/syserr.h"

std::uint32_t LastSystemError() { return GetLastError(); }
