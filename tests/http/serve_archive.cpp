// Test helper program: serves the archive named on its command line under the prefix
// "c0ffee/" on a port of the system's choice, prints the session URL on one line, and stops
// when its standard input ends.
#include <cstdio>

#include "http/server.h"
#include "launcher/session.h"
#include "text/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: http_serve_archive ARCHIVE.zip\n");
    return 2;
  }
  SessionPrefix = "c0ffee/";
  HttpServer server;
  const std::string baseUrl = server.Start(0);
  try {
    TheArchive.OpenFile(AnsiToWide(argv[1]));
  } catch (const amzip::AZError& error) {
    std::fprintf(stderr, "%s\n", WideToAnsi(error.Message()).c_str());
    return 1;
  }
  SessionUrl = AnsiToWide(baseUrl + SessionPrefix);
  std::printf("%s%s\n", baseUrl.c_str(), SessionPrefix.c_str());
  std::fflush(stdout);
  while (std::fgetc(stdin) != EOF) {
  }
  return 0;
}
