#include "content/range.h"

namespace {

// Reads the decimal digits at `text[*at]` on; false when there are none or they overflow.
bool ReadNumber(const std::string& text, std::size_t* at, std::uint64_t* value) {
  const std::size_t start = *at;
  std::uint64_t n = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9') {
    const unsigned digit = static_cast<unsigned>(text[*at] - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
    ++*at;
  }
  *value = n;
  return *at > start;
}

bool UnitIsBytes(const std::string& text) {
  static constexpr char kUnit[] = "bytes=";
  if (text.size() < sizeof kUnit - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kUnit; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kUnit[i]) return false;
  }
  return true;
}

}  // namespace

ByteRange ParseRange(const std::string& value, std::uint64_t size) {
  ByteRange whole;
  if (!UnitIsBytes(value)) return whole;
  std::size_t at = 6;
  ByteRange range;
  if (at < value.size() && value[at] == '-') {
    ++at;
    std::uint64_t suffix = 0;
    if (!ReadNumber(value, &at, &suffix) || at != value.size()) return whole;
    if (suffix == 0 || size == 0) {
      range.kind = ByteRange::Kind::kUnsatisfiable;
      return range;
    }
    range.kind = ByteRange::Kind::kPart;
    range.first = suffix >= size ? 0 : size - suffix;
    range.last = size - 1;
    return range;
  }
  std::uint64_t first = 0;
  if (!ReadNumber(value, &at, &first) || at >= value.size() || value[at] != '-') return whole;
  ++at;
  std::uint64_t last = UINT64_MAX;
  if (at < value.size() && (!ReadNumber(value, &at, &last) || last < first)) return whole;
  if (at != value.size()) return whole;
  if (first >= size) {
    range.kind = ByteRange::Kind::kUnsatisfiable;
    return range;
  }
  range.kind = ByteRange::Kind::kPart;
  range.first = first;
  range.last = last >= size ? size - 1 : last;
  return range;
}
