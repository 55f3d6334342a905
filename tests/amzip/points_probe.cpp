// Reads one entry of an archive as the server would, in the order given, and tells what each
// read gave and took, then what the access points hold (for points_budget.py and bench):
//   amzip_points_probe ARCHIVE ENTRY BUDGET SPACING READ...
// BUDGET and SPACING in bytes (the points' store); each READ is "whole" or OFFSET:LENGTH. One
// line per read, "OFFSET LENGTH CRC32 MILLISECONDS" (CRC-32 in hex), then one line "points N
// spacing S bytes B peak P budget G hwm_kib H" (H: peak resident memory, Linux only, else 0).
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "amzip/access_points.h"
#include "amzip/archive.h"
#include "text/text.h"

namespace {

long PeakResidentKib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s ARCHIVE ENTRY BUDGET SPACING READ...\n", argv[0]);
    return 2;
  }
  try {
    amzip::ZipArchive archive;
    archive.SetAccessPoints(std::strtoull(argv[3], nullptr, 10), std::strtoull(argv[4], nullptr, 10));
    archive.OpenFile(AnsiToWide(argv[1]));
    const std::wstring name = AnsiToWide(argv[2]);
    amzip::EntryInfo info;
    if (!archive.Find(name, &info)) throw std::runtime_error(std::string("no entry ") + argv[2]);
    std::vector<char> buffer(1 << 20);
    for (int i = 5; i < argc; ++i) {
      char* colon = nullptr;
      const bool whole = std::strcmp(argv[i], "whole") == 0;
      const std::uint64_t offset = whole ? 0 : std::strtoull(argv[i], &colon, 10);
      const std::uint64_t length = whole ? info.size : std::strtoull(colon + 1, nullptr, 10);
      const auto start = std::chrono::steady_clock::now();
      const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(name, info, offset);
      uLong crc = crc32(0, nullptr, 0);
      for (std::uint64_t left = length; left != 0;) {
        const std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
        const std::size_t got = reader->Read(buffer.data(), want);
        if (got == 0) throw std::runtime_error("entry ended early");
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(got));
        left -= got;
      }
      // A whole read goes on to the end, where the checks run.
      if (offset + length == info.size && reader->Read(buffer.data(), 1) != 0) throw std::runtime_error("entry too long");
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      std::printf("%llu %llu %08lx %.2f\n", static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(length), crc, ms);
    }
    const amzip::AccessPoints& points = archive.Points();
    std::printf("points %zu spacing %llu bytes %zu peak %zu budget %zu hwm_kib %ld\n", points.CountOf(*info.entry),
                static_cast<unsigned long long>(points.SpacingOf(*info.entry)), points.Bytes(), points.PeakBytes(),
                points.Budget(), PeakResidentKib());
  } catch (const amzip::AZError& error) {
    std::fprintf(stderr, "archive error %d\n", error.code);
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
