// Programs the run starts (Platform::StartProcess): what to start, and the handle of what was
// started.
#pragma once

#include <string>
#include <vector>

#include "launcher/os/message_pipe.h"

// What a zero-time-out wait on a started process tells.
enum class ProcessState {
  kRunning,  // still running
  kExited,   // has ended (and, on POSIX, been reaped); stays so
  kUnknown,  // the wait failed or nothing was started: it may or may not run
};

// A program to start, in the terms of both systems.
struct ProgramStart {
  std::wstring program;            // its path (Windows: or a name, found as the shell finds it)
  std::vector<std::wstring> args;  // POSIX: its words after the program, each passed as it is
  std::wstring commandLine;        // Windows: the whole command line, the program's word first
  std::wstring folder;             // the folder it starts in; "" = the run's own
  bool messagePipe = false;        // give it a MessagePipe (ChildProcess::Pipe) on 3 and 4
};

// A program the run started.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;  // lets go of it (closes its handle); it keeps running
  // A zero-time-out wait (WaitForSingleObject(0) / waitpid(WNOHANG)); kExited stays so.
  virtual ProcessState Check() = 0;
  // Ends it if it still runs: POSIX SIGTERM, up to 3 s of grace, then SIGKILL; Windows
  // TerminateProcess. Returns once it has ended (or could not be ended).
  virtual void End() = 0;
  // The pipe it was given (ProgramStart::messagePipe); null when it has none.
  virtual MessagePipe* Pipe() { return nullptr; }
};
