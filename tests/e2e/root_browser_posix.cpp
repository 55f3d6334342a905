// A stand-in browser for a root that holds nothing but the launcher and itself (static, like
// the launcher): takes the start URL (its last argument), asks the server for each entry named
// in ORVANE_E2E_ENTRIES (':'-separated, relative to the start page's folder), and writes each
// answer to standard output as "ENTRY NAME STATUS CONTENT-TYPE LENGTH\n", the LENGTH body
// bytes and "\n". Installed as "firefox", so the launcher watches it as a process and ends
// once it has.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/http/raw_client.h"

namespace {

// The value of header `name` in an answer's head ("" when missing).
std::string HeaderOf(const std::string& head, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const std::size_t at = head.find(key);
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size();
  return head.substr(start, head.find("\r\n", start) - start);
}

}  // namespace

int main(int argc, char** argv) {
  const char* entries = std::getenv("ORVANE_E2E_ENTRIES");
  const std::string url = argc > 1 ? argv[argc - 1] : "";
  const std::string scheme = "http://127.0.0.1:";
  if (!entries || url.rfind(scheme, 0) != 0) return 2;
  const std::size_t slash = url.find('/', scheme.size());
  const std::string port = url.substr(scheme.size(), slash - scheme.size());
  const std::string folder = url.substr(slash, url.rfind('/', url.find('?')) + 1 - slash);
  std::string names = entries;
  for (std::size_t start = 0; start <= names.size();) {
    std::size_t end = names.find(':', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = names.substr(start, end - start);
    start = end + 1;
    const std::string answer = Exchange(static_cast<std::uint16_t>(std::atoi(port.c_str())),
                                        "GET " + folder + name + " HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                                            "\r\nConnection: close\r\n\r\n");
    const std::size_t headEnd = answer.find("\r\n\r\n");
    const std::string head = answer.substr(0, headEnd);
    const std::string body = headEnd == std::string::npos ? "" : answer.substr(headEnd + 4);
    const std::string status = head.size() > 12 ? head.substr(9, 3) : "000";
    std::printf("ENTRY %s %s %s %zu\n", name.c_str(), status.c_str(), HeaderOf(head, "Content-Type").c_str(),
                body.size());
    std::fwrite(body.data(), 1, body.size(), stdout);
    std::printf("\n");
  }
  return 0;
}
