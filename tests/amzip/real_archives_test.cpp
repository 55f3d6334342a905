// Every entry of every archive written by a real zip tool reads back as Python's zipfile reads
// it, from a file and from memory.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "amzip/access_points.h"
#include "amzip/archive.h"
#include "amzip/entry.h"
#include "tests/amzip/fixtures.h"
#include "text/text.h"
#include "text/url.h"

namespace {

using amzip::ZipArchive;

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// The name a caller would ask for: zipfile's own for UTF-8 or ASCII names; for other names the
// stored bytes in the ANSI code page, under which the reader indexes them.
std::wstring LookupName(const ManifestEntry& entry) {
  if ((entry.flags & amzip::kFlagUtf8) != 0 || IsAscii(entry.rawName)) return Utf8ToWide(entry.pythonName);
  return AnsiToWide(entry.rawName);
}

std::wstring WithBackslashes(std::wstring name) {
  for (wchar_t& c : name) {
    if (c == L'/') c = L'\\';
  }
  return name;
}

std::map<std::string, std::vector<ManifestEntry>> ByArchive() {
  std::map<std::string, std::vector<ManifestEntry>> archives;
  for (const ManifestEntry& entry : Manifest()) archives[entry.archive].push_back(entry);
  return archives;
}

// How far apart the archives under test keep access points: small, so fixtures have many.
constexpr std::size_t kPointSpacing = 16384;

// Compares the open archive with zipfile's view: the same entries in the same order, each
// extracting to the same bytes, whole and from random offsets before and after the whole read
// made access points.
void ExpectSameAsZipfile(ZipArchive& archive, const std::vector<ManifestEntry>& expected,
                         const std::vector<unsigned char>& blob) {
  std::minstd_rand offsets(25);
  ASSERT_EQ(archive.Entries().size(), expected.size());
  std::set<std::wstring> seen;
  for (const ManifestEntry& want : expected) {
    SCOPED_TRACE(want.pythonName);
    const amzip::ZipEntry& entry = *archive.Entries()[want.index];
    EXPECT_EQ(entry.rawName, want.rawName);
    EXPECT_EQ(entry.name, WithBackslashes(Utf8ToWide(want.pythonName)));
    const std::wstring name = LookupName(want);
    if (!seen.insert(NormalizePath(name)).second) continue;  // a later duplicate is not found by name
    std::uint32_t size = 0;
    ASSERT_TRUE(archive.GetEntryInfo(name, &size, nullptr));
    EXPECT_EQ(size, want.length);
    amzip::EntryInfo info;
    ASSERT_TRUE(archive.Find(name, &info));
    EXPECT_EQ(info.size, want.length);
    const auto expectedBytes = blob.begin() + static_cast<std::ptrdiff_t>(want.offset);
    // From a random offset to the end, in pieces of `piece` bytes.
    const auto expectRandomRange = [&](std::size_t piece) {
      const std::size_t at = static_cast<std::size_t>(offsets()) % want.length;
      const auto part = ReadEntry(archive, name, at, piece);
      ASSERT_TRUE(part.has_value());
      ASSERT_EQ(part->size(), want.length - at);
      EXPECT_TRUE(std::equal(part->begin(), part->end(), expectedBytes + static_cast<std::ptrdiff_t>(at))) << at;
    };
    if (want.length > 0) expectRandomRange(3000);  // before any point exists: its skip makes those it passes
    const auto bytes = ExtractEntry(archive, name);
    ASSERT_TRUE(bytes.has_value());
    ASSERT_EQ(bytes->size(), want.length);
    EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(), expectedBytes));
    // The same bytes through a reader, whole and from the middle, in odd-sized pieces. A
    // checked whole read (Extract's too) marks the entry verified.
    EXPECT_EQ(ReadEntry(archive, name, 0, 7000), bytes);
    EXPECT_TRUE(archive.IsVerified(name));
    const std::size_t middle = want.length / 2;
    const auto tail = ReadEntry(archive, name, middle, 4099);
    ASSERT_TRUE(tail.has_value());
    ASSERT_EQ(tail->size(), want.length - middle);
    EXPECT_TRUE(std::equal(tail->begin(), tail->end(), expectedBytes + static_cast<std::ptrdiff_t>(middle)));
    if (entry.method != 8 || want.length < 4 * kPointSpacing) continue;
    // The whole reads made access points at block boundaries, one per kPointSpacing at most (random
    // bytes come in stored blocks of 64 KiB at most, the mixed stream in parts); ranges start there.
    if (want.pythonName == "random.bin" || want.pythonName == "mixed.bin") {
      EXPECT_GE(archive.Points().CountOf(entry), 1u);
    }
    for (int i = 0; i < 6; ++i) expectRandomRange(1 + i * 1000);
  }
}

class RealArchive : public testing::TestWithParam<std::string> {};

TEST_P(RealArchive, FileReadsLikeZipfile) {
  const auto archives = ByArchive();
  ASSERT_TRUE(archives.count(GetParam())) << "not in the manifest";
  const std::string base = GetParam().substr(0, GetParam().size() - 4);
  ZipArchive archive;
  archive.SetAccessPoints(amzip::AccessPoints::kDefaultBudget, kPointSpacing);
  archive.OpenFile(WideFixturePath("real/" + GetParam()));
  ASSERT_TRUE(archive.IsOpen());
  ExpectSameAsZipfile(archive, archives.at(GetParam()), ReadFixture("real/" + base + ".expected"));
}

TEST_P(RealArchive, MemoryReadsLikeZipfile) {
  const auto archives = ByArchive();
  ASSERT_TRUE(archives.count(GetParam())) << "not in the manifest";
  const std::string base = GetParam().substr(0, GetParam().size() - 4);
  const std::vector<unsigned char> bytes = ReadFixture("real/" + GetParam());
  ZipArchive archive;
  archive.SetAccessPoints(amzip::AccessPoints::kDefaultBudget, kPointSpacing);
  archive.OpenMemory(bytes.data(), bytes.size(), L"memory.zip");
  ASSERT_TRUE(archive.IsOpen());
  ExpectSameAsZipfile(archive, archives.at(GetParam()), ReadFixture("real/" + base + ".expected"));
}

INSTANTIATE_TEST_SUITE_P(Tools, RealArchive,
                         testing::Values("infozip_deflate.zip", "infozip_stored.zip", "sevenzip.zip",
                                         "sevenzip_stored.zip", "bsdtar.zip", "bsdtar_dot.zip", "python_utf8.zip",
                                         "python_descriptor.zip", "python_zip64.zip", "python_zip64_fields.zip",
                                         "python_many.zip",
                                         "python_long_comment.zip", "python_times.zip", "python_blocks.zip"),
                         [](const auto& param) { return param.param.substr(0, param.param.size() - 4); });

TEST(RealArchives, ManifestCoversEveryArchive) {
  // Guards the list above: an archive added to make_fixtures.py must be tested too.
  EXPECT_EQ(ByArchive().size(), 14u);
  EXPECT_GT(ByArchive()["python_many.zip"].size(), 65535u);
}

TEST(RealArchives, NamesMatchAsTheServerAsks) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("real/infozip_deflate.zip"));
  const auto page = ExtractEntry(archive, L"dir/sub/page.html");
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(*page, Bytes("<p>deep</p>\n"));
  for (const wchar_t* name : {L"DIR\\SUB\\PAGE.HTML", L"dir//sub/page.html", L"file://dir/sub/page.html", L".\\dir\\sub\\page.html"}) {
    EXPECT_EQ(ExtractEntry(archive, name), page) << WideToAnsi(name);
  }
  // A leading separator is part of the key; a directory is found without its trailing "/".
  EXPECT_FALSE(ExtractEntry(archive, L"\\index.html").has_value());
  std::uint32_t size = 1;
  EXPECT_TRUE(archive.GetEntryInfo(L"dir/sub", &size, nullptr));
  EXPECT_EQ(size, 0u);
}

// Unflagged names: from the Unicode Path record when its CRC-32 matches (not the stale third);
// as UTF-8 when written on Unix and well-formed (Info-ZIP's zip here), else in the OEM code page.
TEST(RealArchives, UnflaggedNames) {
  ZipArchive unicode, unix;
  unicode.OpenFile(WideFixturePath("damaged/unicode_path.zip"));
  unix.OpenFile(WideFixturePath("damaged/infozip_unix_names.zip"));
  const std::wstring lodz = Utf8ToWide("\xC5\x81\xC3\xB3" "d\xC5\xBA/\xC3\x9C" "bung 1.html"), aerger = Utf8ToWide("\xC3\x84rger.html");
  ASSERT_EQ(unicode.Entries().size(), 3u);
  ASSERT_EQ(unix.Entries().size(), 2u);
  EXPECT_EQ(unicode.Entries()[0]->name, WithBackslashes(lodz));
  EXPECT_EQ(unicode.Entries()[2]->name, L"renamed.txt");
  EXPECT_EQ(unix.Entries()[1]->name, OemToWide("caf\xE9.txt"));
  EXPECT_EQ(ExtractEntry(unicode, lodz), Bytes("<p>lodz</p>\n"));
  EXPECT_EQ(ExtractEntry(unix, aerger), Bytes("<p>aerger</p>\n"));
  EXPECT_EQ(ExtractEntry(unicode, Utf8ToWide("\xC3\x84RGER.HTML")), ExtractEntry(unix, aerger));
  EXPECT_FALSE(ExtractEntry(unicode, L"old name.txt").has_value());
  EXPECT_EQ(ExtractEntry(unix, AnsiToWide("caf\xE9.txt")), Bytes("latin-1\n"));
}

TEST(RealArchives, EmptyEntryAndNullBuffer) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("real/infozip_deflate.zip"));
  std::uint32_t size = 7;
  // A zero-byte entry: the size query gives 0, and asking again with 0 is again a size query.
  size = 0;
  EXPECT_TRUE(archive.Extract(L"empty.txt", nullptr, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(archive.Extract(L"empty.txt", nullptr, &size));
  // A non-zero count with a null buffer is refused; a missing name is false, never an error.
  size = 10;
  EXPECT_FALSE(archive.Extract(L"index.html", nullptr, &size));
  EXPECT_FALSE(archive.Extract(L"missing.html", nullptr, &size));
  unsigned char buffer[4];
  EXPECT_FALSE(archive.Extract(L"missing.html", buffer, &size));
}

TEST(RealArchives, ReaderOffsetsUpToTheSize) {
  for (const char* file : {"real/infozip_deflate.zip", "real/infozip_stored.zip"}) {
    SCOPED_TRACE(file);
    ZipArchive archive;
    archive.OpenFile(WideFixturePath(file));
    const auto whole = ExtractEntry(archive, L"big.txt");
    ASSERT_TRUE(whole.has_value());
    const std::uint64_t size = whole->size();
    // The last byte alone, then nothing at the size itself; past it is an error.
    EXPECT_EQ(ReadEntry(archive, L"big.txt", size - 1), std::vector<unsigned char>(1, whole->back()));
    EXPECT_EQ(ReadEntry(archive, L"big.txt", size), std::vector<unsigned char>());
    EXPECT_EQ(ThrownBy([&] { archive.OpenEntry(L"big.txt", size + 1); }).code, amzip::AZ_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(archive.OpenEntry(L"missing.txt"), nullptr);
    // Pieces of one byte, and a capacity of 0, which delivers nothing and ends nothing.
    const auto reader = archive.OpenEntry(L"big.txt", size - 3);
    unsigned char byte = 0;
    EXPECT_EQ(reader->Read(&byte, 0), 0u);
    for (std::uint64_t at = size - 3; at < size; ++at) {
      ASSERT_EQ(reader->Read(&byte, 1), 1u);
      EXPECT_EQ(byte, (*whole)[at]);
    }
    EXPECT_EQ(reader->Read(&byte, 1), 0u);
  }
}

TEST(RealArchives, StoredSpansPointAtTheBytes) {
  const std::vector<unsigned char> bytes = ReadFixture("real/infozip_stored.zip");
  ZipArchive memory;
  memory.OpenMemory(bytes.data(), bytes.size(), L"memory");
  ZipArchive file;
  file.OpenFile(WideFixturePath("real/infozip_stored.zip"));
  const auto page = ExtractEntry(file, L"index.html");
  ASSERT_TRUE(page.has_value());
  amzip::StoredSpan inMemory, inFile;
  ASSERT_TRUE(memory.GetStoredSpan(L"index.html", &inMemory));
  ASSERT_TRUE(file.GetStoredSpan(L"index.html", &inFile));
  ASSERT_NE(inMemory.memory, nullptr);
  EXPECT_EQ(inMemory.file, -1);
  EXPECT_TRUE(std::equal(page->begin(), page->end(), inMemory.memory));
  EXPECT_EQ(inFile.memory, nullptr);
  EXPECT_NE(inFile.file, -1);
  EXPECT_EQ(inFile.offset, static_cast<std::uint64_t>(inMemory.memory - bytes.data()));
  // Deflated and missing entries have none.
  ZipArchive deflated;
  deflated.OpenFile(WideFixturePath("real/infozip_deflate.zip"));
  EXPECT_FALSE(deflated.GetStoredSpan(L"big.txt", &inFile));
  EXPECT_FALSE(file.GetStoredSpan(L"missing.txt", &inFile));
}

TEST(RealArchives, CapacityIsNeverExceeded) {
  ZipArchive archive;
  archive.OpenFile(WideFixturePath("real/infozip_deflate.zip"));
  for (const wchar_t* name : {L"big.txt", L"index.html"}) {
    std::uint32_t size = 0;
    ASSERT_TRUE(archive.Extract(name, nullptr, &size));
    // A buffer one byte short, with a guard byte behind it that must stay untouched.
    std::vector<unsigned char> buffer(size, 0);
    std::uint32_t capacity = size - 1;
    buffer[size - 1] = 0xA5;
    const amzip::AZError error = ThrownBy([&] { archive.Extract(name, buffer.data(), &capacity); });
    EXPECT_EQ(error.code, amzip::AZ_ERROR_COMPRESSION);
    EXPECT_EQ(error.Message(), L"Internal compression error\nbuffer error");
    EXPECT_EQ(buffer[size - 1], 0xA5);
  }
}

}  // namespace
