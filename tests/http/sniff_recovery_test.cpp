// Sniffing recovers when the magic database could not be opened at first use, as happens when
// clients hold every descriptor. A program of its own, so that this is the first use in it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "content/content_types.h"

namespace {

const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                              0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0, 0x3A, 0x7E, 0x9B, 0x55};

TEST(SniffRecovery, ADatabaseThatFailedToOpenIsOpenedLater) {
  // Every descriptor below a low limit taken, so that opening the database fails.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> held;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held.push_back(fd);
  ASSERT_FALSE(held.empty());

  EXPECT_EQ(SniffContentType(kPng, sizeof kPng), "text/plain");

  for (int fd : held) close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  // Within the pause after a failed open it is not tried again; after it, it is.
  EXPECT_EQ(SniffContentType(kPng, sizeof kPng), "text/plain");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(SniffContentType(kPng, sizeof kPng), "image/png");
}

}  // namespace
