// The two standards' time spans, in hundredths of a second (the finest step either can say).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// SCORM 1.2's CMITimespan: HHHH:MM:SS with an optional fraction of one or two digits (hours of
// two to four digits, minutes and seconds of two, both below 60). False for anything else.
bool ParseTimespan12(std::string_view text, std::int64_t* centiseconds);
// An ISO 8601 duration as SCORM 2004 takes it: P[nY][nM][nD][T[nH][nM][n[.n]S]], at least one
// part, "T" only with a time part after it. A year counts 365 days and a month 30. False for
// anything else (signs, weeks, empty parts).
bool ParseDuration2004(std::string_view text, std::int64_t* centiseconds);

// "HHHH:MM:SS.SS" (hours at least four digits).
std::string FormatTimespan12(std::int64_t centiseconds);
// "PT#H#M#S" with the seconds' fraction when there is one ("PT0S" for none).
std::string FormatDuration2004(std::int64_t centiseconds);
