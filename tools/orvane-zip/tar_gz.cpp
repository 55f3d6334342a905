#include "tools/orvane-zip/tar_gz.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace orvanezip {

namespace {

constexpr std::size_t kBlock = 512;

// An octal field of `width` bytes: width - 1 digits, zero-padded, then a NUL.
void PutOctal(unsigned char* field, std::size_t width, std::uint64_t value) {
  field[width - 1] = '\0';
  for (std::size_t i = width - 1; i-- > 0; value >>= 3) field[i] = static_cast<unsigned char>('0' + (value & 7));
}

// The ustar header of a regular file.
std::vector<unsigned char> Header(const std::string& name, std::uint64_t size, std::int64_t seconds) {
  std::vector<unsigned char> block(kBlock, 0);
  std::memcpy(block.data(), name.data(), name.size());
  PutOctal(&block[100], 8, 0755);
  PutOctal(&block[108], 8, 0);  // uid
  PutOctal(&block[116], 8, 0);  // gid
  PutOctal(&block[124], 12, size);
  PutOctal(&block[136], 12, static_cast<std::uint64_t>(seconds < 0 ? 0 : seconds));
  block[156] = '0';  // a regular file
  std::memcpy(&block[257], "ustar\0" "00", 8);
  std::memset(&block[148], ' ', 8);  // the checksum counts its own field as spaces
  unsigned sum = 0;
  for (unsigned char byte : block) sum += byte;
  PutOctal(&block[148], 7, sum);  // six digits and a NUL, then the space left there

  return block;
}

// Deflates what it is given into `out` as one gzip stream.
class GzipWriter {
 public:
  explicit GzipWriter(OutputFile* out) : out_(out) {
    ok_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~GzipWriter() { deflateEnd(&stream_); }
  bool Add(const unsigned char* bytes, std::size_t count) { return Run(bytes, count, Z_NO_FLUSH); }
  bool Finish() { return Run(nullptr, 0, Z_FINISH); }

 private:
  bool Run(const unsigned char* bytes, std::size_t count, int flush) {
    if (!ok_) return false;
    stream_.next_in = const_cast<unsigned char*>(bytes);
    stream_.avail_in = static_cast<uInt>(count);
    unsigned char buffer[64 * 1024];
    int result;
    do {
      stream_.next_out = buffer;
      stream_.avail_out = sizeof buffer;
      result = deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) return ok_ = false;
      out_->Write(buffer, sizeof buffer - stream_.avail_out);
    } while (stream_.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    return true;
  }

  OutputFile* out_;
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace

bool WriteProgramTarGz(const ByteSource& program, const std::string& name, std::int64_t seconds,
                       OutputFile* out, std::wstring* error) {
  if (name.empty() || name.size() > 100) {
    *error = L"the name in the .tar.gz must be 1 to 100 bytes";
    return false;
  }
  GzipWriter gzip(out);
  const std::uint64_t size = program.Size();
  const std::vector<unsigned char> header = Header(name, size, seconds);
  bool ok = gzip.Add(header.data(), header.size());
  std::vector<unsigned char> chunk(1 << 20);
  for (std::uint64_t at = 0; ok && at < size; at += chunk.size()) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at));
    if (!program.Read(at, chunk.data(), count)) {
      *error = L"cannot read the packed launcher back";
      return false;
    }
    ok = gzip.Add(chunk.data(), count);
  }
  // The file's last block padded with zeros, then two zero blocks end the archive.
  const std::vector<unsigned char> zeros(kBlock * 2 + (kBlock - size % kBlock) % kBlock, 0);
  ok = ok && gzip.Add(zeros.data(), zeros.size()) && gzip.Finish();
  if (!ok) *error = L"cannot compress the .tar.gz";
  return ok;
}

}  // namespace orvanezip
