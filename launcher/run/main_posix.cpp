// Entry point for POSIX: argv as the command line, each word byte for byte; argv[0] is always
// the program, so argv[1] is the archive candidate.
#include "launcher/os/platform.h"
#include "launcher/run/startup.h"
#include "text/text.h"

int main(int argc, char** argv) {
  CommandLine commandLine;
  commandLine.present = true;
  for (int i = 0; i < argc; ++i) commandLine.args.push_back(PathToWide(argv[i]));
  commandLine.candidate = 1;
  std::unique_ptr<Platform> platform = NewSystemPlatform();
  return RunLauncher(*platform, commandLine);
}
