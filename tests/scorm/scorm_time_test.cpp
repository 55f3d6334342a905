#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "scorm/scorm_time.h"

namespace {

constexpr std::int64_t kBad = -1;

// Each parser with the texts it reads and the hundredths they come to, kBad for a refusal.
TEST(ScormTime, Parse) {
  const struct {
    bool (*parse)(std::string_view, std::int64_t*);
    std::vector<std::pair<const char*, std::int64_t>> cases;
  } parsers[] = {
      {ParseTimespan12,
       {{"00:00:00", 0},       {"0000:00:01.5", 150},  {"01:02:03.04", 372304}, {"9999:59:59.99", 3599999999},
        {"12:00:00", 4320000}, {"1:00:00", kBad},      {"00:60:00", kBad},      {"00:00:60", kBad},
        {"00:00:00.", kBad},   {"00:00:00.123", kBad}, {"00000:00:00", kBad},   {"00:00", kBad},
        {"00:00:00 ", kBad},   {"", kBad},             {"-1:00:00", kBad}}},
      {ParseDuration2004,
       {{"PT0S", 0},         {"PT1M30S", 9000},       {"PT1H", 360000},         {"PT2.5S", 250},
        {"PT0.257S", 25},    {"P1D", 8640000},        {"P1Y", 365 * 8640000ll}, {"P1M", 30 * 8640000ll},
        {"P1DT1M", 8646000}, {"PT1H2M3.04S", 372304}, {"P", kBad},              {"PT", kBad},
        {"P1DT", kBad},      {"PT1S1M", kBad},        {"PT1.5M", kBad},         {"P1W", kBad},
        {"-PT1S", kBad},     {"PT S", kBad},          {"1S", kBad},             {"PT1H1H", kBad}}},
  };
  for (const auto& parser : parsers) {
    for (const auto& [text, centiseconds] : parser.cases) {
      std::int64_t got = kBad;
      EXPECT_EQ(parser.parse(text, &got) ? got : kBad, centiseconds) << text;
    }
  }
}

TEST(ScormTime, FormatsReadBack) {
  for (std::int64_t cs : {0ll, 1ll, 150ll, 9000ll, 372304ll, 3599999999ll, 123456789012ll}) {
    std::int64_t back = -1;
    EXPECT_TRUE(ParseDuration2004(FormatDuration2004(cs), &back) && back == cs) << FormatDuration2004(cs);
    if (cs < 3600000000ll) {
      EXPECT_TRUE(ParseTimespan12(FormatTimespan12(cs), &back) && back == cs) << FormatTimespan12(cs);
    }
  }
  EXPECT_EQ(FormatTimespan12(372304), "0001:02:03.04");
  EXPECT_EQ(FormatDuration2004(372304), "PT1H2M3.04S");
  EXPECT_EQ(FormatDuration2004(0), "PT0S");
}

}  // namespace
