// Entry point for POSIX: argv as the command line, each word byte for byte; argv[0] is always
// the program, so argv[1] is the archive candidate.
#include <cstdio>
#include <cstring>

#include "launcher/browsers/browser_system.h"
#include "launcher/os/platform.h"
#include "launcher/run/settings.h"
#include "launcher/run/startup.h"
#include "text/text.h"

namespace {

constexpr const char kUsage[] =
    "Usage: orvane [COURSE.zip] [ARGUMENT...]\n"
    "       orvane --progress [COURSE.zip]\n"
    "Serves the course, a zip file of web pages, on 127.0.0.1 and opens it in a browser; ends\n"
    "when the browser's last window of it closes. A launcher that carries its course takes only\n"
    "the arguments. Each ARGUMENT goes to the start page's query, as in index.html?a=1&b=2.\n"
    "--progress prints the learner's record of a SCORM package as JSON.\n"
    "\n"
    "  BROWSER=PROGRAM   the browser to use (commands separated by \":\", %s for the URL)\n"
    "  HttpPort=NUMBER   in ~/.config/keltrix/Orvane.conf: a fixed port instead of the course's own\n"
    "  LearnerName=TEXT  in the same file: the learner's name a SCORM course is given\n"
    "\n"
    "Exit status: 0 when the course was shown (or handed to the run that already shows it);\n"
    "1 when no course could be opened, no port used or no browser started.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const bool progress = argc >= 2 && std::strcmp(argv[1], "--progress") == 0;
  CommandLine commandLine;
  commandLine.present = true;
  for (int i = 0; i < argc; ++i) commandLine.args.push_back(PathToWide(argv[i]));
  commandLine.candidate = progress ? 2 : 1;
  std::unique_ptr<Platform> platform = NewSystemPlatform();
  if (progress) return PrintProgress(*platform, commandLine);
  std::unique_ptr<BrowserSystem> browsers = NewSystemBrowsers();
  return RunLauncher(*platform, *browsers, ReadUserSettings(), commandLine);
}
