// The Range header of a GET, for an entry of a known size (single byte ranges only).
#pragma once

#include <cstdint>
#include <string>

struct ByteRange {
  enum class Kind {
    kWhole,          // no usable range: the whole entry, 200
    kPart,           // bytes first..last (inclusive), 206
    kUnsatisfiable,  // 416
  };
  Kind kind = Kind::kWhole;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};

// Accepts exactly one range of unit "bytes" (any letter case): "bytes=A-B", "bytes=A-" or
// "bytes=-N", decimal digits only, no blanks inside. A last position past the end is cut to the
// end; "-N" with N past the size means the whole entry as a part. Unsatisfiable: A at or past
// the size, or "-0", or any suffix of an empty entry. Everything else is ignored as allowed
// (the whole entry): no value, another unit, several ranges, A > B, digits that overflow
// 64 bits, or any other character.
ByteRange ParseRange(const std::string& value, std::uint64_t size);
