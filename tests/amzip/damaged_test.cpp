// Damaged and unusual inputs: each ends in its AZError with its text, or in its documented
// quiet result, and leaves the archive in the state that the open's outcome implies.
#include <gtest/gtest.h>

#include <cctype>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "tests/amzip/fixtures.h"
#include "text/text.h"

namespace {

using amzip::AZError;
using amzip::ZipArchive;

// A test name from a fixture path: the file name after "damaged/", letters and digits only.
// Any text as part of a test name: letters and digits only.
std::string Identifier(std::string text) {
  for (char& ch : text) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return text;
}

std::string CaseName(const char* file) { return Identifier(file + 8); }

constexpr std::int32_t kNoError = 1000;  // the open throws nothing

struct OpenCase {
  const char* file;
  std::int32_t code;       // what OpenFile throws, or kNoError
  const wchar_t* message;  // its Message()
  bool isOpen;             // IsOpen() afterwards
  const wchar_t* findable; // an entry GetEntryInfo finds afterwards, or null for none
};

const OpenCase kOpenCases[] = {
    // No end record: the walk from offset 0 reads the local headers, then the directory up to
    // where it was cut.
    {"damaged/truncated_directory.zip", amzip::AZ_ERROR_READ, L"Read error", true, L"index.html"},
    // Taken for something other than an archive: no error, nothing loaded.
    {"damaged/file.gz", kNoError, nullptr, true, nullptr},
    {"damaged/ff.bin", kNoError, nullptr, true, nullptr},
    {"damaged/text.txt", amzip::AZ_ERROR_UNKNOWN_SIGNATURE, L"Unknown signature 6c6c6568", true, nullptr},
    {"damaged/empty.zip", kNoError, nullptr, true, nullptr},
    {"damaged/three.bin", amzip::AZ_ERROR_READ, L"Read error", true, nullptr},
    // The highest "PK\5\6" is in the comment; the false record decides.
    {"damaged/false_end_short.zip", amzip::AZ_ERROR_READ, L"Read error", true, nullptr},
    {"damaged/false_end_disk.zip", amzip::AZ_ERROR_UNKNOWN, L"Unknown error", true, nullptr},
    // A zip64 end record whose size would move backwards ends the walk instead of looping.
    {"damaged/zip64_backwards.zip", amzip::AZ_ERROR_READ, L"Read error", true, L"loop.txt"},
    // Records after the end record are not used: one cut short does not fail the open.
    {"damaged/locator_past_end.zip", kNoError, nullptr, true, L"a.txt"},
    // Disk numbers 0xFFFF are taken from the zip64 end record, so the entries are on this disk.
    {"damaged/zip64_disk_marker.zip", kNoError, nullptr, true, L"two.txt"},
    // The split marker: a .zip that has it, or a last part that has it again, is an error.
    {"damaged/again.zip", amzip::AZ_ERROR_UNKNOWN, L"Unknown error", true, nullptr},
    {"damaged/again.z01", amzip::AZ_ERROR_UNKNOWN, L"Unknown error", true, nullptr},
    {"damaged/chain", amzip::AZ_ERROR_UNKNOWN, L"Unknown error", true, nullptr},
    // A name without a dot is redirected once, to the name with "zip" appended.
    {"damaged/nodot", kNoError, nullptr, true, L"big.txt"},
    // Past 2 GiB the source is read: the end record at its very end puts the directory at
    // offset 0, where zeros are no record.
    {"damaged/huge.zip", amzip::AZ_ERROR_UNKNOWN_SIGNATURE, L"Unknown signature", true, nullptr},
    {"damaged/no-such-file.zip", amzip::AZ_ERROR_OPEN_FILE, L"Failed to open file for reading", false, nullptr},
};

class DamagedOpen : public testing::TestWithParam<OpenCase> {};

TEST_P(DamagedOpen, EndsAsDocumented) {
  const OpenCase& c = GetParam();
  ZipArchive archive;
  std::int32_t code = kNoError;
  std::wstring message;
  try {
    archive.OpenFile(WideFixturePath(c.file));
  } catch (const AZError& error) {
    code = error.code;
    message = error.Message();
    EXPECT_TRUE(error.fileName.empty());
  }
  EXPECT_EQ(code, c.code);
  if (c.message != nullptr) {
    EXPECT_EQ(message, c.message);
  }
  EXPECT_EQ(archive.IsOpen(), c.isOpen);
  std::uint32_t size = 0;
  if (c.findable != nullptr) {
    EXPECT_TRUE(archive.GetEntryInfo(c.findable, &size, nullptr));
  } else {
    EXPECT_FALSE(archive.GetEntryInfo(L"index.html", &size, nullptr));
  }
  // Extract walks again when the directory is not loaded, and meets the same outcome.
  size = 0;
  if (!c.isOpen) {
    EXPECT_EQ(ThrownBy([&] { archive.Extract(L"x", nullptr, &size); }).code, amzip::AZ_ERROR_INVALID_STATE);
  } else if (c.code == kNoError) {
    EXPECT_EQ(archive.Extract(c.findable != nullptr ? c.findable : L"index.html", nullptr, &size), c.findable != nullptr);
    // What is found is read whole, its CRC-32 checked.
    if (c.findable != nullptr) {
      EXPECT_TRUE(ReadEntry(archive, c.findable).has_value());
      EXPECT_TRUE(archive.IsVerified(c.findable));
    }
  } else {
    EXPECT_EQ(ThrownBy([&] { archive.Extract(L"index.html", nullptr, &size); }).code, c.code);
    // Walking again neither duplicates entries nor loses them.
    const std::size_t count = archive.Entries().size();
    ThrownBy([&] { archive.Extract(L"index.html", nullptr, &size); });
    EXPECT_EQ(archive.Entries().size(), count);
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedOpen, testing::ValuesIn(kOpenCases),
                         [](const auto& param) { return CaseName(param.param.file); });

struct ExtractCase {
  const char* file;
  const wchar_t* entry;
  bool sizeQueryFails;  // the error comes already from the size query
  std::int32_t code;
  std::int32_t detail;  // checked when not 0
  const wchar_t* message;
};

const ExtractCase kExtractCases[] = {
    {"damaged/corrupt_deflate.zip", L"bad.txt", false, amzip::AZ_ERROR_COMPRESSION, -3, L"Internal compression error\ndata error"},
    {"damaged/method12.zip", L"m12.txt", true, amzip::AZ_ERROR_UNKNOWN_COMPRESSION, 0, L"Unknown compression type"},
    {"damaged/zip64_marker.zip", L"marker.txt", true, amzip::AZ_ERROR_ZIP64_DISABLED, 0, L"ZIP64 features are required but disabled"},
    {"damaged/deflate_zero_size.zip", L"zero.txt", false, amzip::AZ_ERROR_COMPRESSION, -5, L"Internal compression error\nbuffer error"},
    // The directory points at bytes that are not a local header: they are named.
    {"damaged/bad_local_offset.zip", L"moved.txt", false, amzip::AZ_ERROR_UNKNOWN_SIGNATURE, 0x00140403, L"Unknown signature 00140403"},
    // Checked reads: one flipped byte, stored and deflated, fails the CRC-32.
    {"damaged/integrity.zip", L"flipped-stored.bin", false, amzip::AZ_ERROR_CRC_MISMATCH, 0, L"CRC-32 mismatch: the entry's data is damaged"},
    {"damaged/integrity.zip", L"flipped-deflated.txt", false, amzip::AZ_ERROR_CRC_MISMATCH, 0, L"CRC-32 mismatch: the entry's data is damaged"},
    // A deflate stream cut short does not end within its compressed bytes.
    {"damaged/deflate_cut.zip", L"cut.txt", false, amzip::AZ_ERROR_COMPRESSION, -5, L"Internal compression error\nbuffer error"},
    // Sizes that the stream does not meet: it ends before, or goes on after.
    {"damaged/deflate_size_more.zip", L"lying.txt", false, amzip::AZ_ERROR_DATA_SHORT, 0, L"The entry's data is shorter than the directory says"},
    {"damaged/deflate_size_less.zip", L"lying.txt", false, amzip::AZ_ERROR_DATA_LONG, 0, L"The entry's data is longer than the directory says"},
    // 3.9 GB claimed for 1,000 bytes: refused before anyone allocates it.
    {"damaged/size_3g_stored.zip", L"claim.bin", true, amzip::AZ_ERROR_DATA_SHORT, 0, L"The entry's data is shorter than the directory says"},
    {"damaged/size_3g_deflated.zip", L"claim.bin", true, amzip::AZ_ERROR_DATA_SHORT, 0, L"The entry's data is shorter than the directory says"},
};

class DamagedEntry : public testing::TestWithParam<ExtractCase> {};

TEST_P(DamagedEntry, FailsAndTheArchiveStaysUsable) {
  const ExtractCase& c = GetParam();
  for (bool fromMemory : {false, true}) {
    SCOPED_TRACE(fromMemory ? "memory" : "file");
    const std::vector<unsigned char> bytes = ReadFixture(c.file);
    ZipArchive archive;
    OpenFixture(archive, c.file, fromMemory ? &bytes : nullptr);
    std::uint32_t size = 0;
    if (!c.sizeQueryFails) {
      ASSERT_TRUE(archive.Extract(c.entry, nullptr, &size));
    }
    std::vector<unsigned char> buffer(size + 1);
    const AZError error = ThrownBy([&] { archive.Extract(c.entry, buffer.data(), &size); });
    EXPECT_EQ(error.code, c.code);
    if (c.detail != 0) {
      EXPECT_EQ(error.detail, c.detail);
    }
    EXPECT_EQ(error.Message(), c.message);
    EXPECT_TRUE(archive.IsOpen());
    std::uint32_t info = 0;
    EXPECT_TRUE(archive.GetEntryInfo(c.entry, &info, nullptr));
    // A reader fails alike, before the call that would deliver the last byte returns.
    std::uint64_t delivered = 0;
    const AZError readError = ThrownBy([&] {
      const auto reader = archive.OpenEntry(c.entry);
      unsigned char piece[1000];
      while (const std::size_t got = reader->Read(piece, sizeof piece)) delivered += got;
    });
    EXPECT_EQ(readError.code, c.code);
    amzip::EntryInfo entry;
    ASSERT_TRUE(archive.Find(c.entry, &entry));
    EXPECT_LT(delivered, entry.size);
    EXPECT_FALSE(archive.IsVerified(c.entry));
  }
}

// Named by file and entry: one file may hold several damaged entries.
INSTANTIATE_TEST_SUITE_P(Inputs, DamagedEntry, testing::ValuesIn(kExtractCases), [](const auto& param) {
  return CaseName(param.param.file) + "_" + Identifier(WideToAnsi(param.param.entry));
});

TEST(Damaged, IntactEntriesBesideDamagedOnesRead) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("damaged/integrity.zip"));
  std::string stored;
  for (int i = 0; i < 100; ++i) stored += "stored and intact\n";
  EXPECT_EQ(ExtractEntry(archive, L"intact-stored.txt"), Bytes(stored));
  EXPECT_EQ(ReadEntry(archive, L"intact-stored.txt", 0, 333), Bytes(stored));
  const auto deflated = ReadEntry(archive, L"intact-deflated.txt");
  ASSERT_TRUE(deflated.has_value());
  EXPECT_EQ(deflated->size(), 50000u);
  EXPECT_TRUE(archive.IsVerified(L"intact-stored.txt"));
  EXPECT_TRUE(archive.IsVerified(L"intact-deflated.txt"));
  // A reader from a later offset cannot check the CRC-32: it delivers the bytes as they are.
  const auto tail = ReadEntry(archive, L"flipped-stored.bin", 15000);
  ASSERT_TRUE(tail.has_value());
  EXPECT_EQ(tail->size(), 5000u);
  EXPECT_FALSE(archive.IsVerified(L"flipped-stored.bin"));
}

TEST(Damaged, DeflateLargerThanItsStreamIgnoresTheRest) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("damaged/deflate_larger_size.zip"));
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "some text\n";
  EXPECT_EQ(ExtractEntry(archive, L"larger.txt"), Bytes(expected));
}

TEST(Damaged, StoredEntryCutShortFromFileAndFromMemory) {
  // Sizes that run past the end of the source are refused by the size query already, so no
  // caller allocates them, and no reader is opened for them.
  const std::vector<unsigned char> bytes = ReadFixture("damaged/stored_short.zip");
  for (bool fromMemory : {false, true}) {
    SCOPED_TRACE(fromMemory ? "memory" : "file");
    ZipArchive archive;
    OpenFixture(archive, "damaged/stored_short.zip", fromMemory ? &bytes : nullptr);
    std::uint32_t size = 0;
    const AZError error = ThrownBy([&] { archive.Extract(L"short.bin", nullptr, &size); });
    EXPECT_EQ(error.code, amzip::AZ_ERROR_DATA_SHORT);
    EXPECT_EQ(error.Message(), L"The entry's data is shorter than the directory says");
    EXPECT_EQ(ThrownBy([&] { archive.OpenEntry(L"short.bin"); }).code, amzip::AZ_ERROR_DATA_SHORT);
  }
}

TEST(Damaged, CaseDuplicatesFindTheFirst) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("damaged/case_duplicates.zip"));
  ASSERT_EQ(archive.Entries().size(), 2u);
  EXPECT_EQ(archive.Entries()[1]->name, L"a.txt");
  EXPECT_EQ(ExtractEntry(archive, L"a.txt"), Bytes("upper\n"));
  EXPECT_EQ(ExtractEntry(archive, L"A.TXT"), Bytes("upper\n"));
}

TEST(Damaged, EmptyArchiveIsLoadedWithoutEntries) {
  const std::vector<unsigned char> bytes = ReadFixture("damaged/empty.zip");
  ASSERT_EQ(bytes.size(), 22u);
  ZipArchive archive;
  archive.OpenMemory(bytes.data(), bytes.size(), L"empty");
  EXPECT_TRUE(archive.IsOpen());
  EXPECT_TRUE(archive.Entries().empty());
  std::uint32_t size = 0;
  EXPECT_FALSE(archive.Extract(L"anything", nullptr, &size));
}

}  // namespace
