// A two-way byte pipe between the run and a program it started (Platform::StartProcess with
// ProgramStart::messagePipe): the run's ends of two pipes, the child's ends being its
// descriptors 3 (it reads) and 4 (it writes). The other side is another program, so a reader
// accepts any bytes.
#pragma once

#include <string>

class MessagePipe {
 public:
  enum class ReadResult { kData, kTimeout, kClosed };

  virtual ~MessagePipe() = default;
  // Writes all of `bytes`; false once the child's end is closed.
  virtual bool Write(const std::string& bytes) = 0;
  // Appends what arrives within `timeoutMs` (at least one byte when kData); kClosed once the
  // child's end is closed and nothing is left to read.
  virtual ReadResult Read(std::string& to, int timeoutMs) = 0;
};
