// The byte sources: a memory block fails a read at its end, a file succeeds with 0 bytes.
#include <gtest/gtest.h>

#include <cstdio>

#include "amzip/reader.h"
#include "tests/amzip/fixtures.h"

namespace {

using amzip::FileReader;
using amzip::MemReader;

TEST(MemReader, ZeroCountSucceedsEvenWhenClosed) {
  const unsigned char block[4] = {1, 2, 3, 4};
  MemReader reader(block, sizeof block);
  std::uint32_t got = 99;
  EXPECT_TRUE(reader.Read(nullptr, 0, &got));
  EXPECT_EQ(got, 0u);
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  got = 99;
  EXPECT_TRUE(reader.Read(nullptr, 0, &got));
  EXPECT_EQ(got, 0u);
  unsigned char out[4];
  EXPECT_FALSE(reader.Read(out, 1, &got));
  EXPECT_FALSE(reader.Seek(0, SEEK_SET));
}

TEST(MemReader, ReadsUpToTheEndThenFails) {
  unsigned char block[100];
  for (int i = 0; i < 100; ++i) block[i] = static_cast<unsigned char>(i);
  MemReader reader(block, sizeof block);
  ASSERT_TRUE(reader.Seek(-4, SEEK_END));
  EXPECT_EQ(reader.Tell(), 96u);
  unsigned char out[10] = {};
  std::uint32_t got = 0;
  // Crossing the end delivers what is there.
  EXPECT_TRUE(reader.Read(out, 10, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(out[0], 96);
  EXPECT_EQ(out[3], 99);
  // Exactly at the end a read is a failure.
  EXPECT_FALSE(reader.Read(out, 1, &got));
  EXPECT_EQ(got, 0u);
}

TEST(MemReader, SeekHasNoBoundButTheNextReadFails) {
  unsigned char block[100] = {};
  MemReader reader(block, sizeof block);
  EXPECT_TRUE(reader.Seek(-1, SEEK_SET));
  unsigned char out[1];
  std::uint32_t got = 0;
  EXPECT_FALSE(reader.Read(out, 1, &got));
  EXPECT_TRUE(reader.Seek(10, SEEK_SET));
  EXPECT_TRUE(reader.Seek(5, SEEK_CUR));
  EXPECT_EQ(reader.Tell(), 15u);
  EXPECT_FALSE(reader.Seek(0, 3));
  EXPECT_EQ(reader.Tell(), 15u);
  EXPECT_TRUE(reader.Seek(200, SEEK_SET));
  EXPECT_FALSE(reader.Read(out, 1, &got));
}

TEST(FileReader, EndOfFileIsAnEmptySuccess) {
  FileReader reader(WideFixturePath("damaged/three.bin"));
  ASSERT_TRUE(reader.IsOpen());
  unsigned char out[8];
  std::uint32_t got = 0;
  EXPECT_TRUE(reader.Read(out, 8, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_TRUE(reader.Read(out, 8, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(reader.Seek(-2, SEEK_END));
  EXPECT_EQ(reader.Tell(), 1u);
  EXPECT_TRUE(reader.Read(out, 8, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(out[0], 0x4B);
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  reader.Close();  // closing twice is harmless
}

TEST(FileReader, MissingFileOrFolderDoesNotOpen) {
  EXPECT_FALSE(FileReader(WideFixturePath("damaged/no-such-file.zip")).IsOpen());
  EXPECT_FALSE(FileReader(WideFixturePath("damaged")).IsOpen());
}

}  // namespace
