// The learner's record as a report to hand in (orvane --progress): the course and each leaf of
// the organization in manifest order, with the statuses evaluated as the content would read them.
#pragma once

#include <nlohmann/json.hpp>

#include "scorm/manifest.h"

// {"course": {"identifier", "title", "scorm", "completion", "success", "totalSeconds"},
//  "items": [{"identifier", "title", "completion", "success", "scoreRaw", "scoreScaled",
//             "location", "totalSeconds", "attempts"}, ...]}, keys in that order. `record` may be
// null (never launched). The course is completed when every leaf is (not attempted when none
// was, else incomplete), passed when every leaf that reports success passed (failed when one
// failed, unknown when none reports).
nlohmann::ordered_json ProgressReport(const nlohmann::json& record, const ManifestFacts& manifest);
