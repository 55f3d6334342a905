// Access points of deflated entries: places inside a deflate stream where inflating can begin
// other than at its start, so a read from a late offset need not inflate everything before it.
// A point is a block boundary: the offset of its first uncompressed byte, where it lies in the
// compressed data (a byte and the bits of the byte before it that still belong to the stream,
// as zlib's inflatePrime takes them) and the 32 KiB of output before it (inflateSetDictionary).
//
// Readers record points as they inflate, one per stretch of `spacing` output bytes, and look
// the nearest one up when they open. The points of all entries together stay within one
// budget of bytes: windows are kept deflated when that makes them smaller, the least recently
// used entries' points go first, and an entry that would take the whole budget alone keeps
// every other point and records half as often, so no archive can make them exceed it.
// Safe from any number of threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace amzip {

struct ZipEntry;

class AccessPoints {
 public:
  static constexpr std::size_t kDefaultBudget = 32u << 20;
  static constexpr std::uint64_t kDefaultSpacing = 1u << 20;
  static constexpr std::size_t kWindow = 32768;

  struct Point {
    std::uint64_t out = 0;  // uncompressed offset of the first byte inflated from here
    std::uint64_t in = 0;   // offset in the compressed data of the first byte wholly after the boundary
    int bits = 0;           // how many high bits of the byte before `in` come after the boundary
    std::vector<unsigned char> window;  // the output just before `out`, up to kWindow bytes
  };

  explicit AccessPoints(std::size_t budget = kDefaultBudget, std::uint64_t spacing = kDefaultSpacing);
  AccessPoints(const AccessPoints&) = delete;
  AccessPoints& operator=(const AccessPoints&) = delete;

  // Points of `entry` count only in the archive's `generation` they were made in.
  // The point with the largest `out` at most `offset` (never one at 0); false when there is none.
  bool Nearest(const ZipEntry& entry, std::uint32_t generation, std::uint64_t offset, Point* point);
  // The uncompressed offset from which `entry` next wants a point, at `out` or after it (the
  // start of the first stretch from there that has none); UINT64_MAX when none is wanted.
  std::uint64_t NextWanted(const ZipEntry& entry, std::uint32_t generation, std::uint64_t out);
  // Keeps a point unless its stretch has one already (or the budget cannot make room for it);
  // `window` holds `windowLength` bytes. Returns where the next point is wanted: as
  // NextWanted, from the stretch after this one's.
  std::uint64_t Add(const ZipEntry& entry, std::uint32_t generation, std::uint64_t out, std::uint64_t in, int bits,
           const unsigned char* window, std::size_t windowLength);
  // A reader of the entry reached the end of its stream and found it whole: every stretch that
  // has a block boundary has its point.
  void MarkComplete(const ZipEntry& entry, std::uint32_t generation);
  bool IsComplete(const ZipEntry& entry, std::uint32_t generation);
  // The entry's stream turned out damaged (or unreadable): its points go.
  void Forget(const ZipEntry& entry);
  void Clear();

  // What the points take now and took at most since the store was made: windows, records and
  // their bookkeeping, counted as allocated.
  std::size_t Bytes() const;
  std::size_t PeakBytes() const;
  std::size_t Budget() const { return budget_; }
  // The points the entry has, and the spacing it records them at now (0 when it has none).
  std::size_t CountOf(const ZipEntry& entry) const;
  std::uint64_t SpacingOf(const ZipEntry& entry) const;

 private:
  struct Kept {
    std::uint64_t out = 0;
    std::uint64_t in = 0;
    int bits = 0;
    std::uint32_t windowLength = 0;     // unpacked
    std::vector<unsigned char> window;  // deflated when `packed`
    bool packed = false;
  };
  struct Entry {
    std::uint32_t generation = 0;
    std::uint64_t spacing = 0;
    std::uint64_t lastUse = 0;
    std::size_t bytes = 0;
    bool complete = false;
    // Whether this entry's windows are worth deflating: tried on its first point.
    enum class Packing { kUntried, kPacks, kRaw } packing = Packing::kUntried;
    std::map<std::uint64_t, Kept> points;  // by stretch: out / spacing
  };

  // The entry's record for `generation`, made or renewed (its old points dropped) as needed.
  Entry& Use(const ZipEntry& entry, std::uint32_t generation);
  // Makes room for `bytes` more in `self`, the record about to grow: other entries go, least
  // recently used first, then `self` records half as often. False when even that cannot.
  bool MakeRoom(Entry& self, std::size_t bytes);
  void Thin(Entry& self);
  // NextWanted from the stretch of `from` on, under the lock; and the entry's spacing.
  std::uint64_t WantedFrom(const ZipEntry& entry, std::uint32_t generation, std::uint64_t out,
                           std::uint64_t from) const;
  std::uint64_t SpacingFor(const ZipEntry& entry, std::uint32_t generation) const;
  static std::size_t Cost(const Kept& kept);
  void Drop(std::unordered_map<const ZipEntry*, Entry>::iterator it);

  const std::size_t budget_;
  const std::uint64_t spacing_;
  mutable std::mutex lock_;
  std::unordered_map<const ZipEntry*, Entry> entries_;
  std::size_t bytes_ = 0;
  std::size_t peak_ = 0;
  std::uint64_t uses_ = 0;
};

}  // namespace amzip
