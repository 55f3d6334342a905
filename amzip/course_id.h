// A course's ID as orvane-zip stores it in the archive it packs: a line of the archive's comment
// (the end record's), "orvane-course-id: ID". What the launcher knows a course by, whatever its
// file is called, from one version to the next.
#pragma once

#include <string>
#include <string_view>

namespace amzip {

// An ID: 1 to 64 characters of letters, digits, '-', '_' and '.'.
bool IsCourseId(std::string_view id);

// The ID a comment holds: its first line "orvane-course-id: ID" with a well-formed ID (a CR
// before the line's end is dropped); "" when there is none.
std::string CourseIdOf(std::string_view comment);

// `comment` with its ID line set to `id` (replaced, or added as a line of its own after the
// rest); the other lines are kept as they are.
std::string CommentWithCourseId(std::string_view comment, std::string_view id);

}  // namespace amzip
