// Raising AZError from inside the reader: every raise carries the system's last error as its
// detail (unless a code gives the detail a meaning of its own) and no file name.
#pragma once

#include <cstdint>

#include "amzip/error.h"
#include "text/syserr.h"

namespace amzip {

[[noreturn]] inline void Fail(std::int32_t code) {
  throw AZError(code, static_cast<std::int32_t>(LastSystemError()), std::wstring());
}

[[noreturn]] inline void FailWithDetail(std::int32_t code, std::int32_t detail) {
  throw AZError(code, detail, std::wstring());
}

}  // namespace amzip
