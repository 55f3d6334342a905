// Opens the archive embedded in this program (OpenResource "RT_ZIP" 777) and checks that it
// holds exactly the files named on the command line, each extracting to bytes whose CRC-32
// matches the directory's. With "--none" it checks that no archive is embedded.
// Exit 0 when the check holds, 1 when it does not; each finding is printed.
#include <zlib.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "text/text.h"

int main(int argc, char** argv) {
  amzip::ZipArchive archive;
  try {
    archive.OpenResource(L"RT_ZIP", amzip::ResourceId(777));
  } catch (const amzip::AZError& error) {
    std::printf("error: %s\n", WideToAnsi(error.Message()).c_str());
    return 1;
  }
  const bool wantNone = argc == 2 && std::string(argv[1]) == "--none";
  if (!archive.IsOpen()) {
    std::printf("no embedded archive\n");
    return wantNone ? 0 : 1;
  }
  if (wantNone) {
    std::printf("an archive is embedded\n");
    return 1;
  }
  std::set<std::string> expected(argv + 1, argv + argc);
  bool ok = true;
  for (const amzip::ZipEntry* entry : archive.Entries()) {
    const std::string name = entry->rawName;
    if (!name.empty() && name.back() == '/') continue;  // directories carry no bytes
    std::uint32_t size = 0;
    std::vector<unsigned char> bytes;
    bool good = archive.Extract(AnsiToWide(name), nullptr, &size);
    if (good) {
      bytes.resize(size);
      good = size == 0 || archive.Extract(AnsiToWide(name), bytes.data(), &size);
    }
    const uLong crc = crc32(0, bytes.data(), static_cast<uInt>(bytes.size()));
    good = good && crc == entry->crc32 && expected.erase(name) == 1;
    std::printf("%s\t%u\t%s\n", name.c_str(), size, good ? "ok" : "BAD");
    ok = ok && good;
  }
  for (const std::string& missing : expected) std::printf("%s\tmissing\n", missing.c_str());
  return ok && expected.empty() ? 0 : 1;
}
