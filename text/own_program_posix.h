// The running program's own file on POSIX, for the archive appended to it and for its name.
#pragma once

#include <string>

// The path of the running executable: /proc/self/exe where /proc is mounted; else the path
// the program was started by (the kernel's AT_EXECFN, which is argv[0] as a shell resolved it),
// made absolute against the folder the process started in. "" when neither is known.
std::string OwnProgramFile();
