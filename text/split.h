// Splitting a text at a separator character, for narrow and wide strings alike.
#pragma once

#include <string>
#include <vector>

// The parts of `text` between the separators, empty ones included: "a::b" at ':' gives "a", "",
// "b"; "" gives one empty part. Callers that skip empty parts do so themselves.
template <class Char>
std::vector<std::basic_string<Char>> SplitText(const std::basic_string<Char>& text, Char separator) {
  std::vector<std::basic_string<Char>> parts;
  typename std::basic_string<Char>::size_type start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    if (end == std::basic_string<Char>::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}
