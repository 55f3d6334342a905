// Test helper program: serves the archive named on its command line under the prefix
// "c0ffee/" on a port of the system's choice, prints the session URL on one line, and stops
// when its standard input ends.
#include <cstdio>

#include "amzip/archive.h"
#include "content/archive_handler.h"
#include "http/server.h"
#include "text/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: http_serve_archive ARCHIVE.zip\n");
    return 2;
  }
  const std::string prefix = "c0ffee/";
  amzip::ZipArchive archive;
  ArchiveHandler handler(archive, prefix);
  HttpServer server(handler);
  const std::string baseUrl = server.Start(0);
  try {
    archive.OpenFile(AnsiToWide(argv[1]));
  } catch (const amzip::AZError& error) {
    std::fprintf(stderr, "%s\n", WideToAnsi(error.Message()).c_str());
    return 1;
  }
  handler.SetSessionUrl(baseUrl + prefix);
  std::printf("%s%s\n", baseUrl.c_str(), prefix.c_str());
  std::fflush(stdout);
  while (std::fgetc(stdin) != EOF) {
  }
  return 0;
}
