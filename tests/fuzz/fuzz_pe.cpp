// Fuzzes what orvane-zip pack reads of a launcher before it writes anything: the PE headers and
// resource tree (PeImage::Parse), the rebuilt resource section (PeResourcePacker) with the
// version resource's title set, and the ELF checks. Seeded by seed_pe with the real launchers.
#include <cstdint>
#include <cstdio>

#include "tools/orvane-zip/byte_source.h"
#include "tools/orvane-zip/launcher_file.h"
#include "tools/orvane-zip/pe_image.h"
#include "tools/orvane-zip/win_resources.h"

using namespace orvanezip;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const MemorySource source(data, size);
  std::wstring error;
  if (KindOfLauncher(source) == LauncherKind::kPosix) {
    CheckPosixLauncher(source, PosixProgramLength(source), &error);
    return 0;
  }
  PeImage image;
  if (!image.Parse(source, &error)) return 0;
  std::uint64_t offset = 0, length = 0;
  image.FindResourceData(ResourceKey{true, 0, u"RT_ZIP"}, 777, &offset, &length);
  PackRequest request;
  request.hasTitle = true;
  request.title = L"A course";
  std::vector<ResourceItem> resources;
  LauncherResources(image, source, request, &resources, &error);
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) return 0;
  OutputFile out(stream);
  PeResourcePacker packer(image, std::move(resources), &out);
  if (packer.Begin(&error)) {
    static const unsigned char archive[64] = {};
    out.Write(archive, sizeof archive);
    packer.End(sizeof archive);
  }
  out.Finish();
  return 0;
}
