// A stand-in browser for a root that holds nothing but the launcher and itself (static, like
// the launcher), installed as "firefox" so the launcher watches it as a process: asks the start
// URL's server (its last argument) for each entry ORVANE_E2E_ENTRIES names (':'-separated,
// relative to the start page's folder) and writes each whole answer to standard output after
// "ENTRY NAME LENGTH\n".
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/http/raw_client.h"

int main(int argc, char** argv) {
  const char* entries = std::getenv("ORVANE_E2E_ENTRIES");
  const std::string url = argc > 1 ? argv[argc - 1] : "", scheme = "http://127.0.0.1:";
  if (!entries || url.rfind(scheme, 0) != 0) return 2;
  const std::size_t slash = url.find('/', scheme.size());
  const std::string port = url.substr(scheme.size(), slash - scheme.size());
  const std::string folder = url.substr(slash, url.rfind('/', url.find('?')) + 1 - slash);
  std::istringstream names(entries);
  for (std::string name; std::getline(names, name, ':');) {
    const std::string answer = Exchange(static_cast<std::uint16_t>(std::atoi(port.c_str())),
                                        "GET " + folder + name + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nConnection: close\r\n\r\n");
    std::printf("ENTRY %s %zu\n", name.c_str(), answer.size());
    std::fwrite(answer.data(), 1, answer.size(), stdout);
  }
  return 0;
}
