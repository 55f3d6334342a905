// The archive object's states, entry information and time stamps, and split archives.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "tests/amzip/fixtures.h"
#include "text/filetime.h"
#include "text/text.h"

namespace {

using amzip::AZError;
using amzip::ZipArchive;

TEST(Archive, FreshArchiveIsClosed) {
  ZipArchive archive;
  EXPECT_FALSE(archive.IsOpen());
  std::uint32_t size = 0;
  EXPECT_FALSE(archive.GetEntryInfo(L"index.html", &size, nullptr));
  const AZError error = ThrownBy([&] { archive.Extract(L"index.html", nullptr, &size); });
  EXPECT_EQ(error.code, amzip::AZ_ERROR_INVALID_STATE);
  EXPECT_EQ(error.Message(), L"Invalid state");
}

TEST(Archive, MissingResourceLeavesTheArchiveClosed) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("real/python_times.zip"));
  ASSERT_TRUE(archive.IsOpen());
  // This test program carries no archive: the open returns normally and closes what was open.
  archive.OpenResource(L"RT_ZIP", amzip::ResourceId(777));
  EXPECT_FALSE(archive.IsOpen());
  std::uint32_t size = 0;
  EXPECT_FALSE(archive.GetEntryInfo(L"noon.txt", &size, nullptr));
  EXPECT_EQ(ThrownBy([&] { archive.Extract(L"noon.txt", nullptr, &size); }).code, amzip::AZ_ERROR_INVALID_STATE);
}

TEST(Archive, EachOpenReplacesTheLast) {
  const std::vector<unsigned char> bytes = ReadFixture("damaged/case_duplicates.zip");
  ZipArchive archive;
  archive.OpenMemory(bytes.data(), bytes.size(), L"memory");
  std::uint32_t size = 0;
  ASSERT_TRUE(archive.GetEntryInfo(L"a.txt", &size, nullptr));
  archive.OpenFile(WideFixturePath("real/python_times.zip"));
  EXPECT_FALSE(archive.GetEntryInfo(L"a.txt", &size, nullptr));
  EXPECT_TRUE(archive.GetEntryInfo(L"noon.txt", &size, nullptr));
  EXPECT_EQ(archive.Entries().size(), 2u);
  // A failed open leaves nothing of the archive before it.
  ThrownBy([&] { archive.OpenFile(WideFixturePath("damaged/no-such-file.zip")); });
  EXPECT_FALSE(archive.IsOpen());
  EXPECT_FALSE(archive.GetEntryInfo(L"noon.txt", &size, nullptr));
  archive.Close();
  EXPECT_FALSE(archive.IsOpen());
}

TEST(Archive, NullMemoryBlockStaysClosed) {
  ZipArchive archive;
  archive.OpenMemory(nullptr, 100, L"nothing");
  EXPECT_FALSE(archive.IsOpen());
}

// A zone one hour ahead of UTC without daylight saving (TZ=<+01>-1, set for this program).
TEST(Archive, EntryTimeIsLocalStampAsUtc) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("real/python_times.zip"));
  std::uint32_t size = 0;
  FileTime time = 0;
  ASSERT_TRUE(archive.GetEntryInfo(L"noon.txt", &size, &time));
  EXPECT_EQ(size, 5u);
  SystemTime utc;
  ASSERT_TRUE(ToSystemTime(time, &utc));
  EXPECT_EQ(utc.wYear, 2021);
  EXPECT_EQ(utc.wMonth, 6);
  EXPECT_EQ(utc.wDay, 15);
  EXPECT_EQ(utc.wHour, 11);
  EXPECT_EQ(utc.wMinute, 30);
  EXPECT_EQ(utc.wSecond, 0);
  // MS-DOS stamps have two-second steps: 23:59:59 is stored as 23:59:58.
  ASSERT_TRUE(archive.GetEntryInfo(L"odd-seconds.txt", &size, &time));
  ASSERT_TRUE(ToSystemTime(time, &utc));
  EXPECT_EQ(utc.wYear, 1999);
  EXPECT_EQ(utc.wHour, 22);
  EXPECT_EQ(utc.wMinute, 59);
  EXPECT_EQ(utc.wSecond, 58);
  // A null time gives the size only.
  size = 0;
  EXPECT_TRUE(archive.GetEntryInfo(L"odd-seconds.txt", &size, nullptr));
  EXPECT_EQ(size, 4u);
}

TEST(Archive, EntryWithoutStampLeavesTheTimeAlone) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("damaged/unstamped.zip"));
  std::uint32_t size = 0;
  FileTime time = 12345;
  ASSERT_TRUE(archive.GetEntryInfo(L"unstamped.txt", &size, &time));
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(time, 12345u);
}

// Reads `name` from `offset` to its end without gtest macros (safe on any thread); nullopt
// when it throws.
std::optional<std::vector<unsigned char>> QuietRead(ZipArchive& archive, const std::wstring& name, std::uint64_t offset) {
  try {
    const auto reader = archive.OpenEntry(name, offset);
    if (reader == nullptr) return std::nullopt;
    std::vector<unsigned char> bytes;
    unsigned char piece[3000];
    while (const std::size_t got = reader->Read(piece, sizeof piece)) bytes.insert(bytes.end(), piece, piece + got);
    return bytes;
  } catch (const AZError&) {
    return std::nullopt;
  }
}

// Many readers at once on one archive, from a file and from memory: each thread reads every
// entry from offsets of its own and compares with what zipfile read.
TEST(Archive, ConcurrentReadersOnOneArchive) {
  std::vector<ManifestEntry> wanted;
  for (const ManifestEntry& entry : Manifest()) {
    if (entry.archive == "infozip_deflate.zip" && entry.length != 0) wanted.push_back(entry);
  }
  ASSERT_GE(wanted.size(), 4u);
  const std::vector<unsigned char> expected = ReadFixture("real/infozip_deflate.expected");
  const std::vector<unsigned char> bytes = ReadFixture("real/infozip_deflate.zip");
  for (bool fromMemory : {false, true}) {
    SCOPED_TRACE(fromMemory ? "memory" : "file");
    ZipArchive archive;
    OpenFixture(archive, "real/infozip_deflate.zip", fromMemory ? &bytes : nullptr);
    std::atomic<int> reads{0}, wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        for (int round = 0; round < 10; ++round) {
          for (const ManifestEntry& entry : wanted) {
            const std::size_t offset = (static_cast<std::size_t>(t) * 7919 + static_cast<std::size_t>(round) * 104729) %
                                       (entry.length + 1);
            const auto got = QuietRead(archive, Utf8ToWide(entry.pythonName), round % 2 == 0 ? 0 : offset);
            const std::size_t from = round % 2 == 0 ? 0 : offset;
            const auto begin = expected.begin() + static_cast<std::ptrdiff_t>(entry.offset + from);
            const bool same = got.has_value() && got->size() == entry.length - from &&
                              std::equal(got->begin(), got->end(), begin);
            ++reads;
            if (!same) ++wrong;
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(reads.load(), static_cast<int>(8 * 10 * wanted.size()));
    EXPECT_EQ(wrong.load(), 0);
    for (const ManifestEntry& entry : wanted) EXPECT_TRUE(archive.IsVerified(Utf8ToWide(entry.pythonName)));
  }
}

// An archive whose directory did not load walks it again on each read, under its own lock, while
// other threads look entries up: each read meets the open's error, each lookup finds the
// entries read before it.
TEST(Archive, WalkAgainBesideConcurrentLookups) {
  ZipArchive archive;
  EXPECT_EQ(ThrownBy([&] { archive.OpenFile(WideFixturePath("damaged/truncated_directory.zip")); }).code,
            amzip::AZ_ERROR_READ);
  std::atomic<int> readErrors{0}, found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        if (t % 2 == 0) {
          try {
            archive.OpenEntry(L"index.html");
          } catch (const AZError& error) {
            if (error.code == amzip::AZ_ERROR_READ) ++readErrors;
          }
        } else {
          amzip::EntryInfo info;
          std::uint32_t size = 0;
          if (archive.Find(L"index.html", &info) && archive.GetEntryInfo(L"index.html", &size, nullptr) &&
              !archive.IsVerified(L"index.html") && size == info.size) {
            ++found;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(readErrors.load(), 150);
  EXPECT_EQ(found.load(), 150);
}

std::vector<unsigned char> SourceFile(const std::string& name) { return ReadFixture("split/src/" + name); }

// Of a split archive only the last part is read: its entries extract, entries that start on an
// earlier part fail cleanly.
void ExpectLastPartOnly(ZipArchive& archive) {
  ASSERT_EQ(archive.Entries().size(), 3u);
  int readable = 0, elsewhere = 0;
  for (const amzip::ZipEntry* entry : archive.Entries()) {
    SCOPED_TRACE(entry->rawName);
    std::uint32_t size = 0;
    ASSERT_TRUE(archive.Extract(entry->name, nullptr, &size));
    std::vector<unsigned char> buffer(size);
    if (entry->diskNumberStart == 2) {
      ++readable;
      ASSERT_TRUE(archive.Extract(entry->name, buffer.data(), &size));
      EXPECT_EQ(buffer, SourceFile(entry->rawName));
    } else {
      ++elsewhere;
      const AZError error = ThrownBy([&] { archive.Extract(entry->name, buffer.data(), &size); });
      EXPECT_EQ(error.code, amzip::AZ_ERROR_READ);
      EXPECT_TRUE(archive.IsOpen());
    }
  }
  EXPECT_EQ(readable, 2);
  EXPECT_EQ(elsewhere, 1);
}

TEST(SplitArchive, LastPartGivesItsOwnEntries) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("split/part.zip"));
  ExpectLastPartOnly(archive);
}

TEST(SplitArchive, FirstPartRedirectsToTheLast) {
  const std::vector<unsigned char> first = ReadFixture("split/part.z01");
  ASSERT_GE(first.size(), 4u);
  EXPECT_EQ(std::vector<unsigned char>(first.begin(), first.begin() + 4), Bytes("PK\x07\x08"));
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("split/part.z01"));
  ExpectLastPartOnly(archive);
}

TEST(SplitArchive, MemoryBlockIsNotRedirected) {
  // A memory block has no sibling parts to read.
  const std::vector<unsigned char> first = ReadFixture("split/part.z01");
  ZipArchive archive;
  const AZError error = ThrownBy([&] { archive.OpenMemory(first.data(), first.size(), L"part.z01"); });
  EXPECT_EQ(error.code, amzip::AZ_ERROR_UNKNOWN);
  EXPECT_TRUE(archive.IsOpen());
}

}  // namespace
