#include "tests/amzip/fixtures.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "text/text.h"

std::string FixturePath(const std::string& relative) {
  const char* root = std::getenv("ORVANE_AMZIP_FIXTURES");
  if (root == nullptr || *root == '\0') root = ORVANE_AMZIP_FIXTURE_ROOT;
  return std::string(root) + "/" + relative;
}

std::wstring WideFixturePath(const std::string& relative) { return AnsiToWide(FixturePath(relative)); }

std::vector<unsigned char> ReadFixture(const std::string& relative) {
  std::ifstream in(FixturePath(relative), std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << FixturePath(relative);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace

const std::vector<ManifestEntry>& Manifest() {
  static const std::vector<ManifestEntry> entries = [] {
    std::vector<ManifestEntry> list;
    std::ifstream in(FixturePath("manifest.txt"));
    EXPECT_TRUE(in.good()) << "no manifest: run make_fixtures.py";
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      ManifestEntry entry;
      std::string rawHex, pythonHex;
      fields >> entry.archive >> entry.index >> entry.flags >> rawHex >> pythonHex >> entry.offset >> entry.length;
      if (!fields) continue;
      entry.rawName = FromHex(rawHex);
      entry.pythonName = FromHex(pythonHex);
      list.push_back(entry);
    }
    return list;
  }();
  return entries;
}

void OpenFixture(amzip::ZipArchive& archive, const std::string& relative, const std::vector<unsigned char>* memory) {
  if (memory != nullptr) {
    archive.OpenMemory(memory->data(), memory->size(), L"memory");
  } else {
    archive.OpenFile(WideFixturePath(relative));
  }
}

std::optional<std::vector<unsigned char>> ExtractEntry(amzip::ZipArchive& archive, const std::wstring& name) {
  std::uint32_t size = 0;
  if (!archive.Extract(name, nullptr, &size)) return std::nullopt;
  std::vector<unsigned char> bytes(size);
  if (size != 0 && !archive.Extract(name, bytes.data(), &size)) return std::nullopt;
  return bytes;
}

std::optional<std::vector<unsigned char>> ReadEntry(amzip::ZipArchive& archive, const std::wstring& name,
                                                    std::uint64_t offset, std::size_t piece) {
  const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(name, offset);
  if (reader == nullptr) return std::nullopt;
  std::vector<unsigned char> bytes;
  std::vector<unsigned char> buffer(piece);
  while (const std::size_t got = reader->Read(buffer.data(), buffer.size())) {
    EXPECT_LE(got, piece);
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
  EXPECT_EQ(reader->Read(buffer.data(), buffer.size()), 0u) << "a finished reader stays at its end";
  return bytes;
}

std::vector<unsigned char> Bytes(const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); }
