// The platform-independent part of the test client.
#include "tests/http/raw_client.h"

bool RawClient::SendAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = SendSome(bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RawClient::ReceiveAll(bool* closed) {
  std::string received;
  char buffer[65536];
  for (;;) {
    const long n = ReceiveSome(buffer, sizeof buffer);
    if (n <= 0) {
      if (closed) *closed = n == 0;
      return received;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string Exchange(std::uint16_t port, const std::string& request) {
  RawClient client(port);
  if (!client.Connected() || !client.SendAll(request)) return "(no connection)";
  return client.ReceiveAll();
}
