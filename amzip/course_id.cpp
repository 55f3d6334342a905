#include "amzip/course_id.h"

namespace amzip {

namespace {

constexpr std::string_view kLabel = "orvane-course-id: ";

// Calls `line(text, start, end)` for each line of `comment`, `end` before its LF; stops when
// it returns true.
template <typename Line>
void ForEachLine(std::string_view comment, Line line) {
  for (std::size_t start = 0; start < comment.size();) {
    std::size_t end = comment.find('\n', start);
    if (end == std::string_view::npos) end = comment.size();
    if (line(comment.substr(start, end - start), start, end)) return;
    start = end + 1;
  }
}

std::string_view IdOfLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.substr(0, kLabel.size()) != kLabel) return {};
  const std::string_view id = line.substr(kLabel.size());
  return IsCourseId(id) ? id : std::string_view();
}

}  // namespace

bool IsCourseId(std::string_view id) {
  if (id.empty() || id.size() > 64) return false;
  for (const char c : id) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                         c == '_' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

std::string CourseIdOf(std::string_view comment) {
  std::string id;
  ForEachLine(comment, [&](std::string_view line, std::size_t, std::size_t) {
    id = IdOfLine(line);
    return !id.empty();
  });
  return id;
}

std::string CommentWithCourseId(std::string_view comment, std::string_view id) {
  std::string kept;
  ForEachLine(comment, [&](std::string_view line, std::size_t start, std::size_t end) {
    if (line.substr(0, kLabel.size()) != kLabel) kept.append(comment.substr(start, end - start + (end < comment.size())));
    return false;
  });
  if (!kept.empty() && kept.back() != '\n') kept += '\n';
  kept += kLabel;
  kept += id;
  return kept;
}

}  // namespace amzip
