// The server under load through real sockets: a large entry to a slow reader, readers that
// leave early, many connections at once, many in a row, and nothing left behind afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tests/http/server_fixture.h"
#include "tests/http/zip_writer.h"

namespace {

// Under Wine the owner of a connection is found by scanning every process's descriptors, which
// takes up to a second a lookup on a busy machine; these tests' clients give up sooner.
bool OwnerLookupIsSlow() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

constexpr std::size_t kLargeSize = 50u * 1024 * 1024;

class Load : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    large_ = PatternBytes(kLargeSize);
    ZipWriter zip;
    zip.Add("large.bin", large_);
    for (int i = 0; i < 20; ++i) zip.Add("small" + std::to_string(i) + ".txt", "small entry " + std::to_string(i));
    Serve(zip.Finish());
  }

  std::string Request(const std::string& entry) {
    return "GET /" + std::string(kPrefix) + entry + " HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n";
  }

  // Waits (bounded) until the process holds `count` descriptors again.
  static int SettleDescriptors(int count) {
    int now = OpenDescriptorCount();
    for (int i = 0; i < 100 && now != count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      now = OpenDescriptorCount();
    }
    return now;
  }

  std::string large_;
};

}  // namespace

TEST_F(Load, LargeEntryToASlowReaderArrivesWholeAndInOrder) {
  RawClient client(port_, 8192);
  ASSERT_TRUE(client.SendAll(Request("large.bin")));
  // The server fills the socket and must wait for write notifications from here on.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::string received;
  std::vector<char> buffer(16384);
  int reads = 0;
  for (;;) {
    const long n = client.ReceiveSome(buffer.data(), buffer.size());
    ASSERT_GE(n, 0) << "after " << received.size() << " bytes";
    if (n == 0) break;
    received.append(buffer.data(), static_cast<std::size_t>(n));
    if (++reads <= 40) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const Response response = Split(received);
  EXPECT_NE(response.head.find("\r\nContent-Length: 52428800\r\n"), std::string::npos) << response.head;
  ASSERT_EQ(response.body.size(), large_.size());
  EXPECT_TRUE(response.body == large_);
}

// A client that ends its sending side after the request (as some HTTP/1.0 tools do) and reads
// slowly still gets the whole answer: only an error or the last byte ends the connection.
TEST_F(Load, HalfClosedClientGetsTheWholeAnswer) {
  if (OwnerLookupIsSlow()) GTEST_SKIP() << "a half-closed client's owner is looked up in Wine's whole table";
  RawClient client(port_, 8192);
  ASSERT_TRUE(client.SendAll(Request("large.bin")));
  client.ShutdownSend();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  bool closed = false;
  const Response response = Split(client.ReceiveAll(&closed));
  EXPECT_TRUE(closed);
  ASSERT_EQ(response.body.size(), large_.size());
  EXPECT_TRUE(response.body == large_);
}

TEST_F(Load, ReaderThatLeavesEarlyDoesNotDisturbTheServer) {
  const int descriptors = OpenDescriptorCount();
  for (int i = 0; i < 3; ++i) {
    RawClient client(port_, 8192);
    ASSERT_TRUE(client.SendAll(Request("large.bin")));
    char buffer[1000];
    ASSERT_GT(client.ReceiveSome(buffer, sizeof buffer), 0);
  }  // closed with most of the response unsent
  EXPECT_EQ(Split(Exchange(port_, Request("small3.txt"))).body, "small entry 3");
  if (descriptors >= 0) {
    EXPECT_EQ(SettleDescriptors(descriptors), descriptors);
  }
}

TEST_F(Load, TwoHundredConnectionsAtOnceAreAllAnswered) {
  const int descriptors = OpenDescriptorCount();
  constexpr int kConnections = 200;
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kConnections; ++i) {
    clients.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(clients.back()->Connected()) << i;
  }
  for (int i = 0; i < kConnections; ++i) {
    ASSERT_TRUE(clients[i]->SendAll(Request("small" + std::to_string(i % 20) + ".txt"))) << i;
  }
  for (int i = 0; i < kConnections; ++i) {
    bool closed = false;
    const Response response = Split(clients[i]->ReceiveAll(&closed));
    EXPECT_TRUE(closed) << i;
    EXPECT_EQ(response.body, "small entry " + std::to_string(i % 20)) << i;
  }
  clients.clear();
  if (descriptors >= 0) {
    EXPECT_EQ(SettleDescriptors(descriptors), descriptors);
  }
}

TEST_F(Load, ManyConnectionsInARowReuseHandlesSafely) {
  if (OwnerLookupIsSlow()) GTEST_SKIP() << "300 owner lookups in Wine's table outlast the clients' time-outs";
  // Handle values come back quickly; every answer must still belong to its own request.
  for (int i = 0; i < 300; ++i) {
    const std::string entry = "small" + std::to_string(i % 20) + ".txt";
    if (i % 7 == 3) {
      RawClient leaver(port_);  // connects, asks, and goes before reading
      ASSERT_TRUE(leaver.SendAll(Request(entry)));
      continue;
    }
    ASSERT_EQ(Split(Exchange(port_, Request(entry))).body, "small entry " + std::to_string(i % 20)) << i;
  }
}

TEST_F(ServerTest, NothingIsLeftAfterTheServerIsDestroyed) {
  const int descriptors = OpenDescriptorCount();
  const int threads = ThreadCount();
  ZipWriter zip;
  zip.Add("a.txt", "a");
  Serve(zip.Finish());
  // Connections in every state: answered, waiting with half a request, open and silent.
  EXPECT_EQ(Split(Get("a.txt")).body, "a");
  RawClient half(port_);
  ASSERT_TRUE(half.SendAll("GET /" + std::string(kPrefix)));
  RawClient silent(port_);
  ASSERT_TRUE(silent.Connected());
  EXPECT_EQ(Split(Get("a.txt")).body, "a");  // the server has taken the two above by now
  server_.reset();
  half.Close();
  silent.Close();
  if (descriptors >= 0) {
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
  }
  if (threads >= 0) {
    // Under qemu-user a joined thread's task can outlive the join by a moment.
    for (int wait = 0; wait < 100 && ThreadCount() != threads; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(ThreadCount(), threads);
  }
  // Records still registered at destruction are freed with it (the sanitizer run's leak check).
}

// An archive file: a large stored entry goes out checked through a reader the first time, then
// straight from the file through the server's reused buffer, whole and as ranges; while one
// slow reader takes it, small requests are answered.
TEST_F(ServerTest, LargeEntryOfAnArchiveFileWholeAndInRanges) {
  const std::string large = PatternBytes(kLargeSize);
  ZipWriter zip;
  zip.Add("large.bin", large);
  zip.Add("small.txt", "small");
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "orvane_load_test.zip";
  {
    std::ofstream file(path, std::ios::binary);
    const std::string bytes = zip.Finish();
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ServeFile(path.string());
  const std::string request = "GET /" + std::string(kPrefix) + "large.bin HTTP/1.1\r\n\r\n";
  for (int round = 0; round < 2; ++round) {
    RawClient slow(port_, 8192);
    ASSERT_TRUE(slow.SendAll(request));
    EXPECT_EQ(Split(Get("small.txt")).body, "small") << round;
    bool closed = false;
    const Response response = Split(slow.ReceiveAll(&closed));
    EXPECT_TRUE(closed);
    ASSERT_EQ(response.body.size(), large.size()) << round;
    EXPECT_TRUE(response.body == large) << round;
  }
  const std::size_t from = large.size() - (1u << 20);
  const Response tail = Split(Exchange(port_, "GET /" + std::string(kPrefix) +
                                                  "large.bin HTTP/1.1\r\nRange: bytes=-1048576\r\n\r\n"));
  EXPECT_EQ(HeaderValue(tail.head, "Content-Range"),
            "bytes " + std::to_string(from) + "-" + std::to_string(large.size() - 1) + "/" + std::to_string(large.size()));
  EXPECT_TRUE(tail.body == large.substr(from));
  server_.reset();
  archive_.Close();
  std::filesystem::remove(path);
}
