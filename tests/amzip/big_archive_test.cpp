// An archive of more than 4 GiB written by Python's zipfile (make_big_archive.py, whose
// docstring gives the layout): zip64 sizes and offsets are read in full, through 64-bit
// positional reads, on every build. The archive's path comes in $ORVANE_BIG_ARCHIVE.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "amzip/reader.h"
#include "text/text.h"

namespace {

using amzip::ZipArchive;

constexpr std::uint64_t kBlock = 1 << 20;
constexpr std::uint64_t kFourGiB = 1ull << 32;
constexpr std::uint64_t kBigSize = kFourGiB + kBlock + 123;
constexpr std::uint64_t kAfterSize = 3 * kBlock + 17;

// Byte `p` of a stored entry made of blocks (see make_big_archive.py).
unsigned char PatternByte(std::uint64_t p, unsigned mul, unsigned add) {
  const std::uint64_t block = p / kBlock;
  const std::uint64_t i = p % kBlock;
  if (i < 8) return static_cast<unsigned char>(block >> (8 * i));
  return static_cast<unsigned char>((i * mul + add) & 0xFF);
}

// How many bytes of `bytes`, meant to start at entry offset `from`, differ from the pattern.
std::uint64_t Mismatches(const std::vector<unsigned char>& bytes, std::uint64_t from, unsigned mul, unsigned add) {
  std::uint64_t wrong = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) wrong += bytes[i] != PatternByte(from + i, mul, add);
  return wrong;
}

std::wstring ArchivePath() {
  const char* path = std::getenv("ORVANE_BIG_ARCHIVE");
  return path != nullptr ? AnsiToWide(path) : std::wstring();
}

class BigArchive : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ArchivePath().empty()) << "ORVANE_BIG_ARCHIVE names the archive";
    archive.OpenFile(ArchivePath());
  }
  ZipArchive archive;
};

TEST_F(BigArchive, ListsFullSizesAndOffsets) {
  const auto& entries = archive.Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1]->rawName, "big.bin");
  EXPECT_EQ(entries[1]->uncompressedSize, kBigSize);
  EXPECT_EQ(entries[1]->compressedSize, kBigSize);
  EXPECT_GT(entries[2]->localHeaderOffset, kFourGiB);
  EXPECT_GT(entries[3]->localHeaderOffset, kFourGiB);
  amzip::EntryInfo info;
  ASSERT_TRUE(archive.Find(L"big.bin", &info));
  EXPECT_EQ(info.size, kBigSize);
  EXPECT_TRUE(info.stored);
  EXPECT_TRUE(info.hasTime);
  // The two-call protocol keeps its 32-bit limit: an entry of 4 GiB or more is not extracted.
  std::uint32_t size = 0;
  EXPECT_FALSE(archive.Extract(L"big.bin", nullptr, &size));
}

TEST_F(BigArchive, EntryLargerThanFourGiBReadsWholeAndChecked) {
  const auto reader = archive.OpenEntry(L"big.bin");
  ASSERT_NE(reader, nullptr);
  std::vector<unsigned char> buffer(kBlock);
  std::uint64_t position = 0, badBlocks = 0;
  // Every block's index is checked, the CRC-32 of the whole by the reader itself.
  while (const std::size_t got = reader->Read(buffer.data(), buffer.size())) {
    for (std::size_t at = (kBlock - position % kBlock) % kBlock; at + 8 <= got; at += kBlock) {
      std::uint64_t index = 0;
      std::memcpy(&index, buffer.data() + at, 8);  // little-endian on every build here
      badBlocks += index != (position + at) / kBlock;
    }
    position += got;
  }
  EXPECT_EQ(position, kBigSize);
  EXPECT_EQ(badBlocks, 0u);
  EXPECT_TRUE(archive.IsVerified(L"big.bin"));
}

TEST_F(BigArchive, ReadsFromOffsetsPastFourGiB) {
  for (std::uint64_t from : {kFourGiB - 5, kFourGiB + 1000, kBigSize - 10}) {
    SCOPED_TRACE(from);
    const auto reader = archive.OpenEntry(L"big.bin", from);
    ASSERT_NE(reader, nullptr);
    std::vector<unsigned char> bytes(kBigSize - from < 65536 ? kBigSize - from : 65536);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
      const std::size_t got = reader->Read(bytes.data() + filled, bytes.size() - filled);
      ASSERT_NE(got, 0u);
      filled += got;
    }
    EXPECT_EQ(Mismatches(bytes, from, 7, 3), 0u);
  }
  // The entries after it: whole through Extract, and a stored span past 4 GiB read back.
  std::uint32_t size = 0;
  ASSERT_TRUE(archive.Extract(L"after.bin", nullptr, &size));
  ASSERT_EQ(size, kAfterSize);
  std::vector<unsigned char> after(size);
  ASSERT_TRUE(archive.Extract(L"after.bin", after.data(), &size));
  EXPECT_EQ(Mismatches(after, 0, 13, 5), 0u);
  amzip::StoredSpan span;
  ASSERT_TRUE(archive.GetStoredSpan(L"after.bin", &span));
  EXPECT_GT(span.offset, kFourGiB);
  EXPECT_EQ(span.memory, nullptr);
  EXPECT_NE(span.file, -1);
  amzip::FileReader file(ArchivePath());
  std::vector<unsigned char> head(4096);
  std::uint32_t got = 0;
  ASSERT_TRUE(file.ReadAt(span.offset, head.data(), static_cast<std::uint32_t>(head.size()), &got));
  EXPECT_EQ(got, head.size());
  EXPECT_TRUE(std::equal(head.begin(), head.end(), after.begin()));
  size = 0;
  ASSERT_TRUE(archive.Extract(L"tail.txt", nullptr, &size));
  std::vector<unsigned char> tail(size);
  ASSERT_TRUE(archive.Extract(L"tail.txt", tail.data(), &size));
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += "the last entry, past 4 GiB\n";
  EXPECT_EQ(std::string(tail.begin(), tail.end()), expected);
}

}  // namespace
