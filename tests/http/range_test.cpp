// Byte ranges of GET through real sockets: every form on stored and deflated entries, small and
// streamed, the unsatisfiable ones, the forms that are ignored, and HEAD, which ignores them.
#include <gtest/gtest.h>

#include "tests/http/server_fixture.h"
#include "tests/http/zip_writer.h"

namespace {

constexpr std::uint64_t kWhole = ~0ull;  // the answer is the whole entry with 200
constexpr std::uint64_t kNone = ~1ull;   // the answer is 416

struct Entry {
  std::string name;
  std::string type;
  std::string data;
};

class Ranges : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    const std::string small = "0123456789abcdefghij";
    const std::string deflated = PatternBytes(60000);
    entries_ = {
        {"small.txt", "text/plain", small},
        {"large.bin", "application/octet-stream", PatternBytes(700000)},  // streamed, then zero-copy
        {"deflated.htm", "text/html", deflated},
        {"empty.txt", "text/plain", ""},
    };
    ZipWriter zip;
    zip.Add("small.txt", small);
    zip.Add("large.bin", entries_[1].data);
    zip.AddRaw("deflated.htm", 8, ZipWriter::DeflateStored(deflated), static_cast<std::uint32_t>(deflated.size()),
               ZipWriter::Crc32(deflated));
    zip.Add("empty.txt", "");
    Serve(zip.Finish());
  }

  std::string GetWith(const std::string& entry, const std::string& headers) {
    return Exchange(port_, "GET /" + std::string(kPrefix) + entry + " HTTP/1.1\r\nHost: " + Host() + "\r\n" + headers + "\r\n");
  }

  // Checks the answer to `range` against the part [first, last] of `entry` (kWhole: 200 with
  // all of it; kNone: 416).
  void Expect(const Entry& entry, const std::string& range, std::uint64_t first, std::uint64_t last) {
    const std::string what = entry.name + " Range: " + range;
    const std::uint64_t size = entry.data.size();
    const Response response = Split(GetWith(entry.name, "Range: " + range + "\r\n"));
    if (first == kNone) {
      EXPECT_EQ(response.head, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                                   std::to_string(size) + "\r\nContent-Length: 0\r\n" + kCommon + "\r\n") << what;
      EXPECT_EQ(response.body, "") << what;
      return;
    }
    const std::string expires = HeaderValue(response.head, "Expires");
    if (first == kWhole) {
      EXPECT_EQ(response.head, "HTTP/1.1 200 OK\r\nContent-Type: " + entry.type + "\r\nContent-Length: " +
                                   std::to_string(size) + "\r\nCache-Control: max-age=5\r\n" + kCommon + "Expires: " +
                                   expires + "\r\n\r\n") << what;
      EXPECT_TRUE(response.body == entry.data) << what;
      return;
    }
    const std::uint64_t length = last - first + 1;
    EXPECT_EQ(response.head, "HTTP/1.1 206 Partial Content\r\nContent-Type: " + entry.type +
                                 "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                 "/" + std::to_string(size) + "\r\nContent-Length: " + std::to_string(length) +
                                 "\r\nCache-Control: max-age=5\r\n" + kCommon + "Expires: " + expires + "\r\n\r\n") << what;
    EXPECT_TRUE(response.body == entry.data.substr(first, length)) << what << " got " << response.body.size();
  }

  std::vector<Entry> entries_;
};

TEST_F(Ranges, EveryFormOnStoredAndDeflatedEntries) {
  for (int round = 0; round < 2; ++round) {  // the large entry unchecked, then checked
    for (const Entry& entry : entries_) {
      const std::uint64_t n = entry.data.size();
      if (n == 0) continue;
      struct Case {
        std::string range;
        std::uint64_t first, last;
      } cases[] = {
          {"bytes=0-9", 0, 9},
          {"bytes=3-3", 3, 3},
          {"bytes=5-", 5, n - 1},
          {"bytes=0-", 0, n - 1},
          {"bytes=-7", n - 7, n - 1},
          {"bytes=-1", n - 1, n - 1},
          {"bytes=" + std::to_string(n - 1) + "-", n - 1, n - 1},
          {"bytes=2-99999999999", 2, n - 1},   // cut to the end
          {"bytes=-99999999999", 0, n - 1},    // more than there is: all of it
          {"BYTES=1-2", 1, 2},                 // the unit in any case
          {"bytes=" + std::to_string(n) + "-", kNone, 0},
          {"bytes=" + std::to_string(n) + "-" + std::to_string(n + 5), kNone, 0},
          {"bytes=-0", kNone, 0},
          {"bytes=1-2,4-5", kWhole, 0},        // several ranges
          {"items=0-1", kWhole, 0},            // another unit
          {"bytes=9-3", kWhole, 0},            // backwards
          {"bytes= 1-2", kWhole, 0},
          {"bytes=1 -2", kWhole, 0},
          {"bytes=a-b", kWhole, 0},
          {"bytes=-", kWhole, 0},
          {"bytes=1-2x", kWhole, 0},
          {"bytes=+1-2", kWhole, 0},
          {"bytes=99999999999999999999-", kWhole, 0},  // past 64 bits
          {"bytes", kWhole, 0},
      };
      for (const Case& c : cases) Expect(entry, c.range, c.first, c.last);
    }
    // Read whole once, the stored large entry is sent straight from the archive.
    EXPECT_TRUE(Split(Get("large.bin")).body == entries_[1].data);
  }
}

TEST_F(Ranges, EmptyEntryHasNoSatisfiableRange) {
  const Entry& empty = entries_[3];
  Expect(empty, "bytes=0-", kNone, 0);
  Expect(empty, "bytes=-5", kNone, 0);
  Expect(empty, "bytes=1-2,3-4", kWhole, 0);
}

TEST_F(Ranges, IgnoredWithIfRangeAndForHead) {
  const Entry& large = entries_[1];
  const Response ifRange = Split(GetWith(large.name, "Range: bytes=0-9\r\nIf-Range: \"x\"\r\n"));
  EXPECT_EQ(ifRange.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << ifRange.head;
  EXPECT_TRUE(ifRange.body == large.data);
  // Two Range lines are two ranges.
  const Response twice = Split(GetWith("small.txt", "Range: bytes=0-1\r\nrange: bytes=3-4\r\n"));
  EXPECT_EQ(twice.body, entries_[0].data);
  // The header's name in any case, blanks around its value.
  const Response lower = Split(GetWith("small.txt", "rAnGe:   bytes=0-1  \r\n"));
  EXPECT_EQ(lower.body, "01");
  const std::string plainHead = Head("large.bin");
  const std::string rangedHead = Exchange(port_, "HEAD /" + std::string(kPrefix) + "large.bin HTTP/1.1\r\nRange: bytes=0-9\r\n\r\n");
  EXPECT_EQ(rangedHead.substr(0, rangedHead.find("Expires")), plainHead.substr(0, plainHead.find("Expires")));
  EXPECT_EQ(rangedHead.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
}

}  // namespace
