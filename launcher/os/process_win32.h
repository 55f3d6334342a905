// Starting programs on Windows: CreateProcessW and the handle of the process it started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/os/child_process.h"

namespace os {

// Starts `commandLine` with CreateProcessW: `program` as the application name, or "" to let the
// system take the program from the line's first word (Internet Explorer's line is started so),
// in `folder` ("" = ours). No handle is inherited, except with `messagePipe` the child's two
// ends of a MessagePipe, passed as the C runtime passes descriptors 3 and 4 (CrtDescriptors);
// when that pipe cannot be made the program starts without one. The line is copied, since
// CreateProcessW may write into it; one longer than the system takes is refused before
// CreateProcessW sees it. Null on failure, after the diagnostic "CreateProcess failed [%lu].\n".
std::unique_ptr<ChildProcess> StartWindowsProcess(const std::wstring& program,
                                                  const std::wstring& commandLine,
                                                  const std::wstring& folder = std::wstring(),
                                                  bool messagePipe = false);

// The STARTUPINFO cbReserved2/lpReserved2 block by which a C runtime hands its descriptors to a
// child: the count (32 bits), a flag byte per descriptor, then a handle per descriptor, each
// `handleBytes` wide (the child's pointer size, which a 32-bit launcher starting a 64-bit program
// must write as 8), little-endian, unaligned. `handles[i]` is descriptor i; 0 to 2 are left
// closed (flag 0, INVALID_HANDLE_VALUE), so the child keeps its standard handles; the others are
// open pipes (FOPEN | FPIPE).
std::vector<unsigned char> CrtDescriptors(const std::vector<std::uint64_t>& handles,
                                          std::size_t handleBytes);

}  // namespace os
