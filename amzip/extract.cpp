// Extract: one entry's bytes, stored or deflated, into the caller's buffer, through the
// archive's two scratch blocks.
#include <zlib.h>

#include <cstring>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "amzip/fail.h"
#include "amzip/little_endian.h"
#include "amzip/reader.h"
#include "text/url.h"

namespace amzip {

namespace {

constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr std::uint32_t kOutputBlock = 65536;
constexpr std::uint32_t kInputBlock = 32768;
constexpr std::uint32_t kLocalHeaderFixed = 30;

// The caller's buffer and how much of it is written. More data than its capacity is an
// inconsistent entry: the call ends with AZ_ERROR_COMPRESSION (detail Z_BUF_ERROR) rather than
// writing past the end or silently cutting the entry off.
struct Destination {
  unsigned char* buffer;
  std::uint32_t capacity;
  std::uint32_t written = 0;

  void Append(const unsigned char* bytes, std::uint32_t count) {
    if (count > capacity - written) FailWithDetail(AZ_ERROR_COMPRESSION, Z_BUF_ERROR);
    std::memcpy(buffer + written, bytes, count);
    written += count;
  }
};

// Ends the zlib stream on every way out of the inflate loop.
struct InflateStream {
  z_stream stream{};
  bool started = false;
  ~InflateStream() {
    if (started) inflateEnd(&stream);
  }
};

}  // namespace

bool ZipArchive::Extract(const std::wstring& name, void* buffer, std::uint32_t* size) {
  if (reader == nullptr || !reader->IsOpen()) Fail(AZ_ERROR_INVALID_STATE);
  if (!loaded) ReadDirectory();
  const auto found = entryIndex.find(NormalizePath(name));
  if (found == entryIndex.end()) return false;
  const ZipEntry& entry = *entries[found->second];
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) Fail(AZ_ERROR_UNKNOWN_COMPRESSION);
  if (entry.localHeaderOffset == 0xFFFFFFFF || entry.uncompressedSize == 0xFFFFFFFF ||
      entry.compressedSize == 0xFFFFFFFF || entry.diskNumberStart == 0xFFFF) {
    Fail(AZ_ERROR_ZIP64_DISABLED);
  }
  if (entry.uncompressedSize > 0xFFFFFFFF) return false;
  if (*size == 0) {
    *size = static_cast<std::uint32_t>(entry.uncompressedSize);
    return true;
  }
  SeekToEntryData(entry);
  if (buffer == nullptr) return false;
  if (entry.method == kMethodStored) {
    CopyStored(entry, static_cast<unsigned char*>(buffer), *size);
  } else {
    Inflate(entry, static_cast<unsigned char*>(buffer), *size);
  }
  return true;
}

// The data starts after the local header's own name and extra field, which writers may make
// differ from the central header's. An entry that starts on another part of a split archive
// cannot be read from this one. The header is read in one seek: name and extra field are read
// past rather than sought over, because a file stream's seek costs a system call even when the
// bytes are already in its buffer.
void ZipArchive::SeekToEntryData(const ZipEntry& entry) {
  if (entry.diskNumberStart != currentVolume->diskNumber) Fail(AZ_ERROR_READ);
  SeekTo(entry.localHeaderOffset, SEEK_SET);
  const std::uint32_t signature = ReadU32();
  if (signature != kLocalHeaderSignature) {
    FailWithDetail(AZ_ERROR_UNKNOWN_SIGNATURE, static_cast<std::int32_t>(signature));
  }
  // The fields after the signature end with the name's length and the extra field's.
  unsigned char fixed[kLocalHeaderFixed - 4];
  ReadBytes(fixed, sizeof fixed);
  std::uint32_t rest = static_cast<std::uint32_t>(LoadU16(fixed + 22)) + LoadU16(fixed + 24);
  // A file that ends within them reads no data after them either, as a seek past its end would.
  while (rest != 0) {
    const std::uint32_t n = rest < kInputBlock ? rest : kInputBlock;
    std::uint32_t got = 0;
    if (!reader->Read(inputBuffer, n, &got)) Fail(AZ_ERROR_READ);
    if (got == 0) return;
    rest -= got;
  }
}

void ZipArchive::CopyStored(const ZipEntry& entry, unsigned char* buffer, std::uint32_t capacity) {
  Destination out{buffer, capacity};
  std::uint64_t remaining = entry.compressedSize;
  while (remaining != 0) {
    const std::uint32_t n = remaining < kOutputBlock ? static_cast<std::uint32_t>(remaining) : kOutputBlock;
    std::uint32_t got = 0;
    if (!reader->Read(outputBuffer, n, &got)) Fail(AZ_ERROR_READ);
    if (got == 0) return;  // a file that ends early: what was there is delivered
    out.Append(outputBuffer, got);
    remaining -= got;
  }
}

void ZipArchive::Inflate(const ZipEntry& entry, unsigned char* buffer, std::uint32_t capacity) {
  Destination out{buffer, capacity};
  InflateStream holder;
  z_stream& stream = holder.stream;
  stream.next_out = outputBuffer;
  stream.avail_out = kOutputBlock;
  stream.next_in = inputBuffer;
  stream.avail_in = 0;
  const int init = inflateInit2(&stream, -MAX_WBITS);
  if (init != Z_OK) FailWithDetail(AZ_ERROR_COMPRESSION, init);
  holder.started = true;

  // Hands a full output block to the caller's buffer.
  auto drainIfFull = [&] {
    if (stream.avail_out != 0) return false;
    out.Append(outputBuffer, kOutputBlock);
    stream.next_out = outputBuffer;
    stream.avail_out = kOutputBlock;
    return true;
  };

  std::uint64_t remaining = entry.compressedSize;
  int last = Z_OK;
  while (remaining != 0 && last != Z_STREAM_END) {
    const std::uint32_t n = remaining < kInputBlock ? static_cast<std::uint32_t>(remaining) : kInputBlock;
    std::uint32_t got = 0;
    if (!reader->Read(inputBuffer, n, &got)) Fail(AZ_ERROR_READ);
    if (got == 0) break;
    stream.next_in = inputBuffer;
    stream.avail_in = got;
    do {
      last = inflate(&stream, Z_SYNC_FLUSH);
      if (last != Z_OK && last != Z_STREAM_END) FailWithDetail(AZ_ERROR_COMPRESSION, last);
      drainIfFull();
    } while (stream.avail_in != 0 && last != Z_STREAM_END);
    remaining -= got;  // bytes after the end of the deflate stream are ignored
  }
  // All input is in: the stream must end now. It may still hold output that did not fit into
  // a full block; each further call either makes room and goes on, or reports the end.
  while (last == Z_OK) {
    last = inflate(&stream, Z_SYNC_FLUSH);
    if (last == Z_OK && drainIfFull()) continue;
    if (last != Z_STREAM_END) FailWithDetail(AZ_ERROR_COMPRESSION, last);
  }
  out.Append(outputBuffer, kOutputBlock - stream.avail_out);
}

}  // namespace amzip
