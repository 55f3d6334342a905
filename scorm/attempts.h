// The learner's record as sessions change it: a launch decides the entry and rolls over to a new
// attempt where the rules say, a commit merges what the content set and counts the session's
// time once, a restart is the learner's own new attempt. The record is the JSON of the store
// (record_store.h); element names are the data model's own ("cmi.core.lesson_status").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scorm/manifest.h"

struct Learner {
  std::string id;    // the account name
  std::string name;  // the full name as the version writes it (1.2: "Last, First")
};

// suspend_data and location are taken up to this many characters, whatever the standard's
// limits; past those a warning is logged.
constexpr std::size_t kMaxLongValue = 1048576;

// The statuses as the content's GetValue would answer them, and as a report gives them:
// completion "not attempted" | "incomplete" | "completed" | "unknown", success "passed" |
// "failed" | "unknown".
struct ItemStatus {
  std::string completion = "not attempted";
  std::string success = "unknown";
};
// `item` is the item's record (null when never launched). 2004: completion from progress_measure
// against the completion threshold when both are known, else completion_status; success from
// score.scaled against the scaled passing score when both are known, else success_status.
// 1.2: lesson_status passed -> (completed, passed), failed -> (completed, failed), completed ->
// (completed, unknown), incomplete and browsed -> (incomplete, unknown).
ItemStatus EvaluateItem(const nlohmann::json& item, const ManifestItem& facts, const std::string& version);

// A new, empty record of the package.
nlohmann::json NewRecord(const ManifestFacts& manifest, const Learner& learner);

// Starts a session of `item` under `token`, at `now` (ISO 8601): the entry ("ab-initio" on the
// first launch; "resume" after exit "suspend" or a session that ended without finishing; after a
// finished, completed attempt a new attempt, the old one kept in "history"; else ""), and the
// answer for the player: {"session", "entry", "attempt", "cmi": every element the content may
// read, the launcher's values included, "globals"}.
nlohmann::json LaunchItem(nlohmann::json& record, const ManifestFacts& manifest, const ManifestItem& item,
                          const Learner& learner, const std::string& token, const std::string& now);

// Applies a commit body {"item", "session", "seq", "cmi", "globals", "end", "sessionSeconds"}:
// `cmi` merged into the attempt's, `globals` (the player's state of the whole course) kept whole;
// a "seq" not above the last one applied in the session changes nothing and is true. False,
// with `*error`, for a body that does not fit the record (an item not launched, a session that is
// not the item's current one, values of the wrong type); the record is then unchanged.
// `warnings` gets a line for each long value past the standard's limit, or refused past
// kMaxLongValue.
bool CommitItem(nlohmann::json& record, const nlohmann::json& body, const std::string& version,
                const std::string& now, std::string* error, std::vector<std::string>* warnings);

// The learner's choice to start over: the named item (all items when `item` is empty) begins a
// new attempt at its next launch, the current one kept in its history; starting all over also
// empties the course-wide "globals".
void RestartItems(nlohmann::json& record, const std::string& item, const std::string& version);
