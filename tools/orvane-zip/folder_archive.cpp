// WriteFolderArchive: worker threads read and deflate files ahead of the writer, which takes
// their results in name order, so the output is the same whatever the threads' timing.
#include "tools/orvane-zip/folder_archive.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "text/text.h"
#include "text/url.h"
#include "tools/orvane-zip/platform.h"
#include "tools/orvane-zip/progress.h"
#include "tools/orvane-zip/zip_writer.h"

namespace orvanezip {

namespace {

// zlib's level 6 is Info-ZIP zip's default and gives its sizes; the larger hash table of
// memory level 9 saves about a fifth of the time on course text for 0.2 % more bytes.
constexpr int kDeflateLevel = 6;
constexpr int kMemoryLevel = 9;
// A file that deflate shrinks by less than this (percent) is stored: the few bytes saved do not
// pay for inflating it on every read.
constexpr std::uint64_t kMinimumSaving = 5;
// Files up to this size are held in memory between reading and writing. A larger one is read
// by its worker for its CRC-32 and deflated size only (nothing kept), and again by the writer,
// which copies or deflates it straight into the output.
constexpr std::uint64_t kHoldLimit = 16u << 20;
// How many files, and how many bytes of held files, the workers may run ahead of the writer.
constexpr std::size_t kWindow = 16;
constexpr std::uint64_t kHeldAhead = 64u << 20;
constexpr std::size_t kBlock = 1u << 20;

const char* const kCompressedFormats[] = {
    // images
    "png", "jpg", "jpeg", "gif", "webp", "avif", "heic", "heif", "jxl", "jp2",
    // audio, stored even when deflate would save (wav, aiff)
    "mp3", "m4a", "aac", "ogg", "oga", "opus", "flac", "wma", "wav", "wave", "aif", "aiff", "aifc", "au", "snd",
    "weba", "caf", "amr", "mka", "mid", "midi", "m3u8",
    // video
    "mp4", "m4v", "webm", "mkv", "mov", "avi", "ogv", "wmv", "flv", "3gp", "3g2", "mpg", "mpeg", "mpe", "ts",
    "m2ts", "mts", "asf", "vob", "f4v",
    // fonts
    "woff", "woff2",
    // archives, and documents that are archives
    "zip", "gz", "tgz", "bz2", "xz", "7z", "rar", "zst", "lz4", "br", "jar", "cab", "epub", "docx", "xlsx", "pptx",
    "odt", "ods", "odp", "swf"};

// What a worker made of one file.
struct Packed {
  ZipEntryRecord record;
  std::vector<unsigned char> data;  // the entry's data, when held in memory
  bool fromFile = false;            // the writer reads the file again: stored, or deflated
  std::wstring error;
  bool done = false;
};

// Reads a whole file in blocks; `each` gets every block. False with a reason on a read error.
template <typename Each>
bool ReadBlocks(const FolderFile& file, std::atomic<std::uint64_t>* progress, std::wstring* error, Each each) {
  std::FILE* stream = OpenStream(PathText(file.path), "rb");
  if (stream == nullptr) {
    *error = L"cannot open " + PathText(file.path);
    return false;
  }
  std::vector<unsigned char> block(kBlock);
  std::size_t n;
  std::uint64_t total = 0;
  while ((n = std::fread(block.data(), 1, block.size(), stream)) != 0) {
    total += n;
    if (progress != nullptr) *progress += n;
    each(block.data(), n);
  }
  const bool ok = std::ferror(stream) == 0;
  std::fclose(stream);
  if (!ok || total != file.size) {
    *error = ok ? L"the file changed while it was packed: " + PathText(file.path) : L"cannot read " + PathText(file.path);
    return false;
  }
  return true;
}

std::uint32_t Crc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
  while (count != 0) {
    const uInt piece = static_cast<uInt>(std::min<std::size_t>(count, 1u << 30));
    crc = static_cast<std::uint32_t>(crc32(crc, bytes, piece));
    bytes += piece;
    count -= piece;
  }
  return crc;
}

// A raw deflate stream into a growing vector.
class Deflater {
 public:
  Deflater() { ok = deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -15, kMemoryLevel, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~Deflater() { deflateEnd(&stream); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Adds input; with `keep` false the output grows to one block at a time and is only
  // counted (Total), so a large file's deflated size is known without holding it.
  bool Add(const unsigned char* bytes, std::size_t count, bool last, std::vector<unsigned char>* out, bool keep = true) {
    stream.next_in = const_cast<unsigned char*>(bytes);
    stream.avail_in = static_cast<uInt>(count);
    for (;;) {
      if (out->size() - used < 65536) out->resize(std::max<std::size_t>(keep ? out->size() * 3 / 2 : 0, used + 65536));
      stream.next_out = out->data() + used;
      stream.avail_out = static_cast<uInt>(out->size() - used);
      const int status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
      used = out->size() - stream.avail_out;
      if (!keep) {
        total += used;
        used = 0;
      }
      if (status == Z_STREAM_END) {
        out->resize(used);
        return ok;
      }
      if (status != Z_OK && status != Z_BUF_ERROR) return false;
      if (!last && stream.avail_in == 0) return ok;
    }
  }
  std::uint64_t Total() const { return total + used; }
  // The bytes of `out` made so far; Drop forgets them once the caller has written them.
  std::size_t Used() const { return used; }
  void Drop() {
    total += used;
    used = 0;
  }

 private:
  z_stream stream{};
  std::size_t used = 0;
  std::uint64_t total = 0;
  bool ok = false;
};

bool SavesEnough(std::uint64_t compressed, std::uint64_t size) { return compressed * 100 <= size * (100 - kMinimumSaving); }

void PackOne(const FolderFile& file, std::atomic<std::uint64_t>* progress, Packed* packed) {
  ZipEntryRecord& record = packed->record;
  record.name = file.name;
  if (file.fromMemory) {
    packed->data.assign(file.content.begin(), file.content.end());
    record.uncompressedSize = record.compressedSize = packed->data.size();
    record.crc = Crc(0, packed->data.data(), packed->data.size());
    return;
  }
  record.uncompressedSize = file.size;
  if (file.size == 0) return;
  const bool hold = file.size <= kHoldLimit;
  std::vector<unsigned char> raw;
  if (hold) raw.reserve(static_cast<std::size_t>(file.size));
  std::uint32_t crc = 0;
  const bool tryDeflate = !IsCompressedFormat(file.name);
  std::vector<unsigned char> compressed;
  bool deflated = false;
  std::uint64_t compressedSize = 0;
  if (tryDeflate && !hold) {
    // Deflated block by block as it is read, and only counted: the writer deflates it again.
    Deflater deflater;
    bool ok = true;
    if (!ReadBlocks(file, progress, &packed->error, [&](const unsigned char* bytes, std::size_t n) {
          crc = Crc(crc, bytes, n);
          ok = ok && deflater.Add(bytes, n, false, &compressed, false);
        })) {
      return;
    }
    deflated = ok && deflater.Add(nullptr, 0, true, &compressed, false);
    compressed.clear();
    compressedSize = deflater.Total();
  } else {
    if (!ReadBlocks(file, progress, &packed->error, [&](const unsigned char* bytes, std::size_t n) {
          crc = Crc(crc, bytes, n);
          if (hold) raw.insert(raw.end(), bytes, bytes + n);
        })) {
      return;
    }
    if (tryDeflate) {
      Deflater deflater;
      compressed.reserve(static_cast<std::size_t>(file.size / 2));
      deflated = deflater.Add(raw.data(), raw.size(), true, &compressed);
      compressedSize = compressed.size();
    }
  }
  record.crc = crc;
  packed->fromFile = !hold;
  if (deflated && SavesEnough(compressedSize, file.size)) {
    record.method = kMethodDeflated;
    record.compressedSize = compressedSize;
    packed->data = std::move(compressed);
    return;
  }
  record.compressedSize = file.size;
  if (hold) packed->data = std::move(raw);
}

// What a file holds in memory between its worker and the writer.
std::uint64_t HeldSize(const FolderFile& file) { return file.fromMemory ? file.content.size() : file.size <= kHoldLimit ? file.size : 0; }

// The workers' shared state: the next file to take, the results, and the writer's progress.
class Pipeline {
 public:
  Pipeline(const std::vector<FolderFile>& all, std::size_t threads) : files(all), results(all.size()) {
    for (std::size_t i = 0; i < threads; ++i) workers.emplace_back([this] { Work(); });
  }
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    for (std::thread& worker : workers) worker.join();
  }

  // Waits up to `wait` for file `i`'s result; null while it is not ready.
  Packed* Result(std::size_t i, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, wait, [&] { return results[i].done; });
    return results[i].done ? &results[i] : nullptr;
  }

  // The writer is done with file `i`: its memory is freed and the workers may move on.
  void Written(std::size_t i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = Packed();
      written = i + 1;
      held -= HeldSize(files[i]);
    }
    changed.notify_all();
  }

  std::atomic<std::uint64_t> bytesRead{0};

 private:
  void Work() {
    for (;;) {
      std::size_t i;
      {
        std::unique_lock<std::mutex> lock(mutex);
        // The next file is taken while it is within the window and its bytes within the bound
        // (the writer's next file always is, so the pack goes on whatever the sizes).
        changed.wait(lock, [&] {
          return stopping || next >= files.size() ||
                 (next < written + kWindow && (next == written || held + HeldSize(files[next]) <= kHeldAhead));
        });
        if (stopping || next >= files.size()) return;
        i = next++;
        held += HeldSize(files[i]);
      }
      Packed packed;
      PackOne(files[i], &bytesRead, &packed);
      packed.done = true;
      {
        std::lock_guard<std::mutex> lock(mutex);
        results[i] = std::move(packed);
      }
      changed.notify_all();
    }
  }

  const std::vector<FolderFile>& files;
  std::vector<Packed> results;
  std::vector<std::thread> workers;
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;
  std::size_t written = 0;
  std::uint64_t held = 0;  // bytes of the files taken and not yet written
  bool stopping = false;
};

// The writer's copy of a file too large to hold, stored or deflated as its worker decided; its
// CRC-32 and deflated size must still be the worker's.
bool WriteFromFile(const FolderFile& file, const ZipEntryRecord& record, OutputFile* out, std::wstring* error) {
  std::uint32_t crc = 0;
  Deflater deflater;
  std::vector<unsigned char> block;
  std::uint64_t written = 0;
  bool ok = true;
  auto emit = [&] {
    out->Write(block.data(), deflater.Used());
    written += deflater.Used();
    deflater.Drop();
  };
  if (!ReadBlocks(file, nullptr, error, [&](const unsigned char* bytes, std::size_t n) {
        crc = Crc(crc, bytes, n);
        if (record.method == kMethodStored) {
          out->Write(bytes, n);
          written += n;
          return;
        }
        ok = ok && deflater.Add(bytes, n, false, &block);
        if (deflater.Used() >= kBlock) emit();
      })) {
    return false;
  }
  if (record.method != kMethodStored) {
    ok = ok && deflater.Add(nullptr, 0, true, &block);
    emit();
  }
  if (!ok || crc != record.crc || written != record.compressedSize) {
    *error = L"the file changed while it was packed: " + PathText(file.path);
    return false;
  }
  return true;
}

}  // namespace

bool IsCompressedFormat(const std::string& name) {
  std::wstring extension = FileExtension(Utf8ToWide(name));
  LowerAscii(extension);
  for (const char* known : kCompressedFormats) {
    if (extension == std::wstring(known, known + std::strlen(known))) return true;
  }
  return false;
}

bool WriteFolderArchive(const std::vector<FolderFile>& files, const FolderArchiveOptions& options, OutputFile* out,
                        std::uint64_t* length, FolderArchiveStats* stats, std::wstring* error) {
  std::uint64_t total = 0;
  for (const FolderFile& file : files) total += file.size;
  Progress progress(options.progress, total);
  const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
  Pipeline pipeline(files, threads);
  ZipWriter writer(out);
  for (std::size_t i = 0; i < files.size(); ++i) {
    Packed* packed;
    while ((packed = pipeline.Result(i, std::chrono::milliseconds(200))) == nullptr) progress.Show(pipeline.bytesRead);
    if (!packed->error.empty()) {
      *error = packed->error;
      return false;
    }
    ZipEntryRecord& record = packed->record;
    record.utf8Name = files[i].utf8Name;
    ++(record.method == kMethodStored ? stats->stored : stats->deflated);
    stats->bytesIn += record.uncompressedSize;
    if (options.fixedTime) {
      UtcDosStamp(options.fixedSeconds, &record.dosDate, &record.dosTime);
    } else {
      LocalDosStamp(files[i].modified, &record.dosDate, &record.dosTime);
    }
    if (record.name.size() > 0xFFFF) {
      *error = L"a name too long for an archive: " + PathText(files[i].path);
      return false;
    }
    writer.BeginEntry(record);
    if (packed->fromFile) {
      if (!WriteFromFile(files[i], record, out, error)) return false;
    } else {
      out->Write(packed->data);
    }
    pipeline.Written(i);
    progress.Show(pipeline.bytesRead);
  }
  *length = writer.Finish(options.comment);
  progress.Done();
  return true;
}

}  // namespace orvanezip
