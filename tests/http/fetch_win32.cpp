// Test helper program for Windows: sends standard input as one request to 127.0.0.1:PORT and
// writes the whole answer to standard output, as bytes. Tests under Wine ask a launcher through
// it: the server answers only clients whose owning process it finds, and a native one has none.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <io.h>

#include "tests/http/raw_client.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: http_fetch PORT < REQUEST\n");
    return 2;
  }
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  std::string request;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) request.append(buffer, n);
  const std::string answer = Exchange(static_cast<std::uint16_t>(std::atoi(argv[1])), request);
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  return answer.empty() ? 1 : 0;
}
