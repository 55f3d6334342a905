// The readers of one entry: stored bytes read where they lie, deflated ones inflated piece by
// piece. Each owns its buffers and reads the source only positionally, so readers never share
// anything but the source. The checks run as the last byte is reached, as in Go's archive/zip:
// exactly the directory's size, and (from offset 0) its CRC-32.
#include "amzip/entry_reader.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <memory>

#include "amzip/access_points.h"
#include "amzip/checksum.h"
#include "amzip/entry.h"
#include "amzip/fail.h"
#include "amzip/reader.h"

namespace amzip {

EntryReader::~EntryReader() = default;

namespace {

constexpr std::uint32_t kInputBlock = 32768;
// The most one source read or one inflate call is asked for.
constexpr std::uint64_t kLargestPiece = 1u << 30;

std::uint32_t Piece(std::size_t capacity, std::uint64_t left) {
  std::uint64_t n = capacity;
  if (n > left) n = left;
  if (n > kLargestPiece) n = kLargestPiece;
  return static_cast<std::uint32_t>(n);
}

// What both readers share: where they are, the checks at the end, and that a reader which
// failed goes on failing the same way (it never reports an end it did not reach).
class CheckedReader : public EntryReader {
 public:
  std::size_t Read(void* buffer, std::size_t capacity) final {
    if (failure.has_value()) throw *failure;
    try {
      return ReadPiece(buffer, capacity);
    } catch (const AZError& error) {
      failure = error;
      Failed();
      throw;
    }
  }

  bool Prepare(std::uint64_t budget) final {
    if (failure.has_value()) throw *failure;
    try {
      return PrepareSome(budget);
    } catch (const AZError& error) {
      failure = error;
      Failed();
      throw;
    }
  }

  // `start`: the uncompressed offset the reader begins at; `checkCrc`: it delivers from 0.
  CheckedReader(const ReadI& from, const ZipEntry& entry, std::uint64_t dataStart, std::uint64_t start, bool checkCrc,
                std::uint32_t generation)
      : source(from),
        dataOffset(dataStart),
        size(entry.uncompressedSize),
        expectedCrc(entry.crc32),
        entry_(entry),
        generation_(generation),
        checksCrc(checkCrc),
        checksAdler(checkCrc && entry.method == 8),
        position(start) {}

 protected:
  // Read without the memory of failure.
  virtual std::size_t ReadPiece(void* buffer, std::size_t capacity) = 0;
  virtual bool PrepareSome(std::uint64_t) { return true; }
  // The entry's data turned out damaged or unreadable.
  virtual void Failed() {}

  // Counts `count` delivered bytes; at the last one, the checks (which throw).
  void Delivered(const unsigned char* bytes, std::size_t count) {
    if (checksCrc) crc = Crc32(crc, bytes, count);
    if (checksAdler) adler = Adler32(adler, bytes, count);
    position += count;
    if (position == size) Finish();
  }

  // The entry ends here: the data must end too, and match its CRC-32 when read from the start.
  void Finish() {
    CheckNothingFollows();
    if (checksCrc) {
      if (crc != expectedCrc) FailWithDetail(AZ_ERROR_CRC_MISMATCH, static_cast<std::int32_t>(crc));
      entry_.streamExact.store(EndsWithData(), std::memory_order_relaxed);
      if (checksAdler) entry_.adler32.store(adler, std::memory_order_relaxed);
      entry_.verifiedIn.store(generation_, std::memory_order_release);
    }
    finished = true;
    Ended();
  }

  // Throws AZ_ERROR_DATA_LONG when the data goes on past the entry's size.
  virtual void CheckNothingFollows() {}
  // After CheckNothingFollows: the entry's compressed data held nothing after its stream.
  virtual bool EndsWithData() const { return false; }
  // After the checks at the end passed.
  virtual void Ended() {}

  const ReadI& source;
  const std::uint64_t dataOffset;
  const std::uint64_t size;
  const std::uint32_t expectedCrc;
  const ZipEntry& entry_;
  const std::uint32_t generation_;
  const bool checksCrc;
  const bool checksAdler;  // a deflated entry (method 8) read from its start: the zlib trailer
  std::uint64_t position;  // uncompressed offset of the next byte to deliver
  bool finished = false;
  std::uint32_t crc = 0;
  std::uint32_t adler = 1;
  std::optional<AZError> failure;
};

// A stored entry: its bytes lie in the source as they are delivered.
class StoredReader : public CheckedReader {
 public:
  StoredReader(const ReadI& from, const ZipEntry& entry, std::uint64_t dataStart, std::uint64_t offset,
               std::uint32_t generation)
      : CheckedReader(from, entry, dataStart, offset, offset == 0, generation) {}

  std::size_t ReadPiece(void* buffer, std::size_t capacity) override {
    if (finished || capacity == 0) return 0;
    if (position == size) {
      Finish();
      return 0;
    }
    const std::uint32_t want = Piece(capacity, size - position);
    std::uint32_t got = 0;
    if (!source.ReadAt(dataOffset + position, buffer, want, &got)) Fail(AZ_ERROR_READ);
    if (got == 0) Fail(AZ_ERROR_DATA_SHORT);  // the source ends inside the entry
    Delivered(static_cast<const unsigned char*>(buffer), got);
    return got;
  }
};

// A deflated entry: compressed input is read block by block and inflated straight into the
// caller's buffer; bytes before the start offset are inflated into a scratch block and dropped.
// With a store of access points, inflating begins at the nearest point before the start offset,
// and every block boundary the reader passes in a stretch without a point becomes one.
class InflateReader : public CheckedReader {
 public:
  InflateReader(const ReadI& from, const ZipEntry& entry, std::uint64_t dataStart, std::uint64_t offset,
                std::uint32_t generation, AccessPoints* points)
      : CheckedReader(from, entry, dataStart, 0, offset == 0, generation),
        inputLeft(entry.compressedSize),
        skip(offset),
        // No larger than the compressed data, and not cleared: every byte is read before use.
        input(new unsigned char[entry.compressedSize < kInputBlock ? static_cast<std::size_t>(entry.compressedSize)
                                                                   : kInputBlock]),
        points_(points) {
    const int init = inflateInit2(&stream, -MAX_WBITS);
    if (init != Z_OK) FailWithDetail(AZ_ERROR_COMPRESSION, init);
    if (points_ == nullptr) return;
    AccessPoints::Point point;
    if (offset != 0 && points_->Nearest(entry, generation, offset, &point)) StartAt(point);
    nextPoint = points_->NextWanted(entry, generation, position);
  }
  ~InflateReader() override { inflateEnd(&stream); }

  bool PrepareSome(std::uint64_t budget) override {
    while (skip != 0 && budget != 0) budget -= std::min<std::uint64_t>(budget, Discard());
    return skip == 0;
  }

  std::size_t ReadPiece(void* buffer, std::size_t capacity) override {
    if (finished || capacity == 0) return 0;
    while (skip != 0) Discard();
    if (position == size) {
      Finish();
      return 0;
    }
    const std::uint32_t made = Inflate(static_cast<unsigned char*>(buffer), Piece(capacity, size - position));
    if (made == 0) Fail(AZ_ERROR_DATA_SHORT);  // the stream ended before the entry's size
    Delivered(static_cast<const unsigned char*>(buffer), made);
    return made;
  }

 private:
  std::uint32_t Discard() {
    unsigned char scratch[16384];
    const std::uint32_t made = Inflate(scratch, Piece(sizeof scratch, skip));
    if (made == 0) Fail(AZ_ERROR_DATA_SHORT);
    position += made;
    skip -= made;
    return made;
  }

  void CheckNothingFollows() override {
    unsigned char extra;
    if (Inflate(&extra, 1) != 0) Fail(AZ_ERROR_DATA_LONG);
  }

  bool EndsWithData() const override { return streamEnded && inputLeft == 0 && stream.avail_in == 0; }

  void Failed() override {
    if (points_ != nullptr) points_->Forget(entry_);
  }
  void Ended() override {
    if (points_ != nullptr) points_->MarkComplete(entry_, generation_);
  }

  // Inflating goes on from `point` instead of the stream's start. A point lies within the
  // compressed data (it was made from it); the byte before `in` gives the bits it still needs.
  void StartAt(const AccessPoints::Point& point) {
    if (point.in > entry_.compressedSize || point.out > size || (point.bits != 0 && point.in == 0)) return;
    if (point.bits != 0) {
      unsigned char last = 0;
      std::uint32_t got = 0;
      if (!source.ReadAt(dataOffset + point.in - 1, &last, 1, &got)) Fail(AZ_ERROR_READ);
      if (got != 1) Fail(AZ_ERROR_DATA_SHORT);
      inflatePrime(&stream, point.bits, last >> (8 - point.bits));
    }
    inflateSetDictionary(&stream, point.window.data(), static_cast<uInt>(point.window.size()));
    inputRead = point.in;
    inputLeft = entry_.compressedSize - point.in;
    position = point.out;
    skip -= point.out;
  }

  // At a block boundary (not of the last block) `out` bytes into the entry: a point there.
  void NotePoint(std::uint64_t out) {
    unsigned char window[AccessPoints::kWindow];
    uInt length = sizeof window;
    if (inflateGetDictionary(&stream, window, &length) != Z_OK) length = AccessPoints::kWindow + 1;  // none made
    nextPoint = points_->Add(entry_, generation_, out, inputRead - stream.avail_in, stream.data_type & 7, window, length);
  }

  // Inflates up to `room` bytes into `out`: more than 0 unless the deflate stream has ended.
  // Bytes after the stream's end are ignored. Throws AZ_ERROR_COMPRESSION (detail: zlib's
  // result) for bad data or a stream that does not end within the entry's compressed size.
  std::uint32_t Inflate(unsigned char* out, std::uint32_t room) {
    if (streamEnded) return 0;
    stream.next_out = out;
    stream.avail_out = room;
    for (;;) {
      if (stream.avail_in == 0) Refill();
      // Past where a point is wanted, inflate stops at the next block boundary to make it.
      const bool wantPoint = position + (room - stream.avail_out) >= nextPoint;
      const int result = inflate(&stream, wantPoint ? Z_BLOCK : Z_SYNC_FLUSH);
      const std::uint32_t made = room - stream.avail_out;
      if (wantPoint && result == Z_OK && (stream.data_type & 128) != 0 && (stream.data_type & 64) == 0) {
        NotePoint(position + made);
      }
      if (result == Z_STREAM_END) {
        streamEnded = true;
        return made;
      }
      if (made != 0) return made;
      if (result == Z_OK) continue;
      // No progress: more input is needed, unless there is none left.
      if (result == Z_BUF_ERROR && stream.avail_in == 0 && inputLeft != 0) continue;
      FailWithDetail(AZ_ERROR_COMPRESSION, result);
    }
  }

  void Refill() {
    if (inputLeft == 0) return;
    const std::uint32_t want = inputLeft < kInputBlock ? static_cast<std::uint32_t>(inputLeft) : kInputBlock;
    std::uint32_t got = 0;
    if (!source.ReadAt(dataOffset + inputRead, input.get(), want, &got)) Fail(AZ_ERROR_READ);
    if (got == 0) Fail(AZ_ERROR_DATA_SHORT);  // the source ends inside the compressed data
    inputRead += got;
    inputLeft -= got;
    stream.next_in = input.get();
    stream.avail_in = got;
  }

  z_stream stream{};
  std::uint64_t inputRead = 0;
  std::uint64_t inputLeft;
  std::uint64_t skip;
  bool streamEnded = false;
  std::unique_ptr<unsigned char[]> input;
  AccessPoints* const points_;
  std::uint64_t nextPoint = std::numeric_limits<std::uint64_t>::max();
};

}  // namespace

std::unique_ptr<EntryReader> NewEntryReader(const ReadI& source, const ZipEntry& entry, std::uint64_t dataOffset,
                                            std::uint64_t offset, std::uint32_t generation, AccessPoints* points) {
  if (entry.method == 0) return std::make_unique<StoredReader>(source, entry, dataOffset, offset, generation);
  return std::make_unique<InflateReader>(source, entry, dataOffset, offset, generation, points);
}

}  // namespace amzip
