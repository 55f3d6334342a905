// The access points' store: one record per entry, points by stretch, all under one lock. The
// windows are deflated (zlib, fastest level) outside the lock.
#include "amzip/access_points.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace amzip {

namespace {

// What a map node and a record cost beside their window, as an allocator hands them out.
constexpr std::size_t kPointOverhead = 96;
constexpr std::size_t kEntryOverhead = 128;
// A deflated window is kept only when it saves at least a quarter.
bool WorthPacking(std::size_t packed, std::size_t raw) { return packed <= raw - raw / 4; }

}  // namespace

AccessPoints::AccessPoints(std::size_t budget, std::uint64_t spacing) : budget_(budget), spacing_(spacing) {}

std::size_t AccessPoints::Cost(const Kept& kept) { return kept.window.capacity() + kPointOverhead; }

AccessPoints::Entry& AccessPoints::Use(const ZipEntry& entry, std::uint32_t generation) {
  auto [it, made] = entries_.try_emplace(&entry);
  Entry& record = it->second;
  if (made) {
    bytes_ += kEntryOverhead;
  } else if (record.generation != generation) {
    bytes_ -= record.bytes;
    record = Entry();
  }
  if (record.spacing == 0) record.spacing = spacing_, record.generation = generation;
  record.lastUse = ++uses_;
  return record;
}

void AccessPoints::Drop(std::unordered_map<const ZipEntry*, Entry>::iterator it) {
  bytes_ -= it->second.bytes + kEntryOverhead;
  entries_.erase(it);
}

bool AccessPoints::Nearest(const ZipEntry& entry, std::uint32_t generation, std::uint64_t offset, Point* point) {
  Kept found;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = entries_.find(&entry);
    if (it == entries_.end() || it->second.generation != generation) return false;
    Entry& record = it->second;
    auto after = record.points.upper_bound(offset / record.spacing);
    // The stretch of `offset` may hold a point past it.
    while (after != record.points.begin()) {
      --after;
      if (after->second.out <= offset) {
        found = after->second;
        break;
      }
    }
    if (found.out == 0) return false;
    record.lastUse = ++uses_;
  }
  point->out = found.out;
  point->in = found.in;
  point->bits = found.bits;
  if (!found.packed) {
    point->window = std::move(found.window);
    return true;
  }
  point->window.resize(found.windowLength);
  uLongf length = found.windowLength;
  return uncompress(point->window.data(), &length, found.window.data(), static_cast<uLong>(found.window.size())) == Z_OK &&
         length == found.windowLength;
}

std::uint64_t AccessPoints::NextWanted(const ZipEntry& entry, std::uint32_t generation, std::uint64_t out) {
  std::lock_guard<std::mutex> hold(lock_);
  return WantedFrom(entry, generation, out, std::max<std::uint64_t>(out, 1));
}

std::uint64_t AccessPoints::WantedFrom(const ZipEntry& entry, std::uint32_t generation, std::uint64_t out,
                                       std::uint64_t from) const {
  const auto it = entries_.find(&entry);
  const bool known = it != entries_.end() && it->second.generation == generation;
  const std::uint64_t spacing = known ? it->second.spacing : spacing_;
  // The first stretch (the stream's start) needs none.
  std::uint64_t stretch = std::max<std::uint64_t>(from / spacing, 1);
  if (known) {
    const auto& points = it->second.points;
    for (auto at = points.lower_bound(stretch); at != points.end() && at->first == stretch; ++at) ++stretch;
  }
  if (stretch > std::numeric_limits<std::uint64_t>::max() / spacing) return std::numeric_limits<std::uint64_t>::max();
  return std::max(out, stretch * spacing);
}

std::uint64_t AccessPoints::Add(const ZipEntry& entry, std::uint32_t generation, std::uint64_t out, std::uint64_t in,
                                int bits, const unsigned char* window, std::size_t windowLength) {
  // Whatever becomes of this one, the next is wanted in a later stretch.
  const auto next = [&] { return WantedFrom(entry, generation, out, (out / SpacingFor(entry, generation) + 1) * SpacingFor(entry, generation)); };
  if (out == 0 || windowLength > kWindow) {
    std::lock_guard<std::mutex> hold(lock_);
    return next();
  }
  Entry::Packing packing = Entry::Packing::kUntried;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = entries_.find(&entry);
    if (it != entries_.end() && it->second.generation == generation) {
      if (it->second.points.count(out / it->second.spacing) != 0) return next();
      packing = it->second.packing;
    }
  }
  Kept kept;
  kept.out = out;
  kept.in = in;
  kept.bits = bits;
  kept.windowLength = static_cast<std::uint32_t>(windowLength);
  if (packing != Entry::Packing::kRaw) {
    std::vector<unsigned char> packed(compressBound(static_cast<uLong>(windowLength)));
    uLongf length = static_cast<uLongf>(packed.size());
    if (compress2(packed.data(), &length, window, static_cast<uLong>(windowLength), 1) == Z_OK &&
        WorthPacking(length, windowLength)) {
      kept.window.assign(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
      kept.packed = true;
    }
    packing = kept.packed ? Entry::Packing::kPacks : Entry::Packing::kRaw;
  }
  if (!kept.packed) kept.window.assign(window, window + windowLength);
  kept.window.shrink_to_fit();

  std::lock_guard<std::mutex> hold(lock_);
  Entry& record = Use(entry, generation);
  if (record.packing == Entry::Packing::kUntried) record.packing = packing;
  const std::size_t cost = Cost(kept);
  if (record.points.count(out / record.spacing) == 0 && MakeRoom(record, cost) &&
      // Thinning may have made the stretch a wider one that holds a point already.
      record.points.emplace(out / record.spacing, std::move(kept)).second) {
    record.bytes += cost;
    bytes_ += cost;
  }
  if (record.points.empty() && !record.complete) Drop(entries_.find(&entry));
  peak_ = std::max(peak_, bytes_);
  return next();
}

std::uint64_t AccessPoints::SpacingFor(const ZipEntry& entry, std::uint32_t generation) const {
  const auto it = entries_.find(&entry);
  return it != entries_.end() && it->second.generation == generation ? it->second.spacing : spacing_;
}

bool AccessPoints::MakeRoom(Entry& self, std::size_t bytes) {
  while (bytes_ + bytes > budget_) {
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (&it->second != &self && (oldest == entries_.end() || it->second.lastUse < oldest->second.lastUse)) oldest = it;
    }
    if (oldest != entries_.end()) {
      Drop(oldest);
    } else if (self.points.size() > 1) {
      Thin(self);
    } else {
      return false;
    }
  }
  return true;
}

void AccessPoints::Thin(Entry& self) {
  self.spacing *= 2;
  std::map<std::uint64_t, Kept> kept;
  for (auto& [stretch, point] : self.points) {
    const std::uint64_t wider = point.out / self.spacing;
    if (kept.count(wider) != 0) {
      self.bytes -= Cost(point);
      bytes_ -= Cost(point);
    } else {
      kept.emplace(wider, std::move(point));
    }
  }
  self.points = std::move(kept);
}

void AccessPoints::MarkComplete(const ZipEntry& entry, std::uint32_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  Entry& record = Use(entry, generation);
  record.complete = true;
  MakeRoom(record, 0);
  peak_ = std::max(peak_, bytes_);
}

bool AccessPoints::IsComplete(const ZipEntry& entry, std::uint32_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = entries_.find(&entry);
  return it != entries_.end() && it->second.generation == generation && it->second.complete;
}

void AccessPoints::Forget(const ZipEntry& entry) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = entries_.find(&entry);
  if (it != entries_.end()) Drop(it);
}

void AccessPoints::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  entries_.clear();
  bytes_ = 0;
}

std::size_t AccessPoints::Bytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bytes_;
}

std::size_t AccessPoints::PeakBytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return peak_;
}

std::size_t AccessPoints::CountOf(const ZipEntry& entry) const {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = entries_.find(&entry);
  return it != entries_.end() ? it->second.points.size() : 0;
}

std::uint64_t AccessPoints::SpacingOf(const ZipEntry& entry) const {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = entries_.find(&entry);
  return it != entries_.end() ? it->second.spacing : 0;
}

}  // namespace amzip
