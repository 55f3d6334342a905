#include "scorm/attempts.h"

#include <cmath>

#include "scorm/scorm_time.h"

namespace {

using nlohmann::json;

std::string Text(const json& object, const char* key) {
  const auto at = object.find(key);
  return at != object.end() && at->is_string() ? at->get<std::string>() : std::string();
}

std::string Cmi(const json& item, const char* name) {
  return item.is_object() && item.contains("cmi") ? Text(item["cmi"], name) : std::string();
}

// A decimal the data model holds as text; false when it is none.
bool Number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(*value);
}

std::int64_t Centiseconds(const json& object, const char* key) {
  const auto at = object.find(key);
  return at != object.end() && at->is_number() ? std::llround(at->get<double>() * 100) : 0;
}
void SetSeconds(json& object, const char* key, std::int64_t centiseconds) {
  if (centiseconds % 100 == 0) {
    object[key] = centiseconds / 100;
  } else {
    object[key] = static_cast<double>(centiseconds) / 100;
  }
}

bool Is12(const std::string& version) { return version == "1.2"; }

// The elements a version's content writes but never reads back; kept out of the saved cmi.
bool IsSessionOnly(const std::string& name) {
  return name == "cmi.core.exit" || name == "cmi.core.session_time" || name == "cmi.exit" || name == "cmi.session_time";
}

// The elements that may hold up to kMaxLongValue characters, and the standard's own limit.
std::size_t StandardLimit(const std::string& name, const std::string& version) {
  if (name == "cmi.suspend_data") return Is12(version) ? 4096 : 64000;
  if (name == "cmi.core.lesson_location") return 255;
  if (name == "cmi.location") return 1000;
  return 0;
}

std::size_t Characters(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

// Ends the current attempt of `item`: kept in its history, the next one empty (1.2 keeps the
// lesson status and score, which that version carries from attempt to attempt).
void NewAttempt(json& item, bool keepStatus12) {
  json old = json::object();
  for (const char* key : {"attempt", "cmi", "totalSeconds", "ended", "exit", "first", "last"}) {
    if (item.contains(key)) old[key] = item[key];
  }
  item["history"].push_back(std::move(old));
  json cmi = json::object();
  if (keepStatus12) {
    for (const auto& [name, value] : item["cmi"].items()) {
      if (name == "cmi.core.lesson_status" || name.rfind("cmi.core.score.", 0) == 0) cmi[name] = value;
    }
  }
  item["cmi"] = std::move(cmi);
  item["attempt"] = item.value("attempt", 1) + 1;
  item["attempts"] = item["attempt"];
  item["totalSeconds"] = 0;
  item.erase("session");
  item.erase("ended");
  item.erase("exit");
  item["sessionCounted"] = true;
}

// Adds the session's time to the attempt's total, once per session.
void CountSession(json& item) {
  if (item.value("sessionCounted", true)) return;
  SetSeconds(item, "totalSeconds", Centiseconds(item, "totalSeconds") + Centiseconds(item, "sessionSeconds"));
  item["sessionCounted"] = true;
}

}  // namespace

ItemStatus EvaluateItem(const json& item, const ManifestItem& facts, const std::string& version) {
  ItemStatus status;
  if (!item.is_object()) return status;
  if (Is12(version)) {
    const std::string lesson = Cmi(item, "cmi.core.lesson_status");
    if (lesson == "passed" || lesson == "failed") status = {"completed", lesson};
    if (lesson == "completed") status.completion = "completed";
    if (lesson == "incomplete" || lesson == "browsed") status.completion = "incomplete";
    if (lesson.empty() && item.contains("session")) status.completion = "incomplete";
    return status;
  }
  double threshold = 0, progress = 0, passing = 0, scaled = 0;
  const std::string thresholdText =
      Cmi(item, "cmi.completion_threshold").empty() ? facts.completionThreshold : Cmi(item, "cmi.completion_threshold");
  if (Number(thresholdText, &threshold) && Number(Cmi(item, "cmi.progress_measure"), &progress)) {
    status.completion = progress >= threshold ? "completed" : "incomplete";
  } else {
    const std::string completion = Cmi(item, "cmi.completion_status");
    status.completion = completion.empty() ? (item.contains("session") ? "unknown" : "not attempted") : completion;
  }
  if (Number(facts.scaledPassingScore, &passing) && Number(Cmi(item, "cmi.score.scaled"), &scaled)) {
    status.success = scaled >= passing ? "passed" : "failed";
  } else {
    const std::string success = Cmi(item, "cmi.success_status");
    if (!success.empty()) status.success = success;
  }
  return status;
}

json NewRecord(const ManifestFacts& manifest, const Learner& learner) {
  return json{{"format", 1},
              {"course", {{"identifier", manifest.identifier}, {"title", manifest.title}, {"scorm", manifest.version}}},
              {"learner", {{"id", learner.id}, {"name", learner.name}}},
              {"items", json::object()},
              {"globals", json::object()}};
}

json LaunchItem(json& record, const ManifestFacts& manifest, const ManifestItem& facts, const Learner& learner,
                const std::string& token, const std::string& now) {
  const std::string& version = manifest.version;
  json& items = record["items"];
  std::string entry = "ab-initio";
  if (!items.contains(facts.identifier)) {
    items[facts.identifier] = json{{"attempt", 1}, {"attempts", 1}, {"cmi", json::object()}, {"totalSeconds", 0},
                                   {"first", now}, {"history", json::array()}};
  } else {
    json& item = items[facts.identifier];
    CountSession(item);  // a session that ended without a word (a crash) still counts
    if (item.contains("session")) {
      const std::string ended = Text(item, "ended");
      const bool suspended = Text(item, "exit") == "suspend";
      if (suspended || ended != "finish") {
        entry = "resume";
      } else if (EvaluateItem(item, facts, version).completion == "completed") {
        NewAttempt(item, Is12(version));
      } else {
        entry = "";
      }
    }
    if (!item.contains("first")) item["first"] = now;
  }
  json& item = items[facts.identifier];
  if (!item.contains("attempt")) item["attempt"] = 1;  // fields a record may lack
  if (!item.contains("cmi")) item["cmi"] = json::object();
  item["entry"] = entry;
  item["session"] = token;
  item["sessionSeconds"] = 0;
  item["sessionCounted"] = false;
  item.erase("seq");
  item.erase("sessionTime");
  item["ended"] = nullptr;
  item["exit"] = "";
  item["last"] = now;
  record["learner"] = {{"id", learner.id}, {"name", learner.name}};

  json cmi = item["cmi"];
  const std::string total = Is12(version) ? FormatTimespan12(Centiseconds(item, "totalSeconds"))
                                          : FormatDuration2004(Centiseconds(item, "totalSeconds"));
  if (Is12(version)) {
    cmi["cmi.core.student_id"] = learner.id;
    cmi["cmi.core.student_name"] = learner.name;
    cmi["cmi.core.entry"] = entry;
    cmi["cmi.core.total_time"] = total;
    cmi["cmi.core.credit"] = "credit";
    cmi["cmi.core.lesson_mode"] = "normal";
    if (!facts.masteryScore.empty()) cmi["cmi.student_data.mastery_score"] = facts.masteryScore;
  } else {
    cmi["cmi.learner_id"] = learner.id;
    cmi["cmi.learner_name"] = learner.name;
    cmi["cmi.entry"] = entry;
    cmi["cmi.total_time"] = total;
    cmi["cmi.credit"] = "credit";
    cmi["cmi.mode"] = "normal";
    if (!facts.scaledPassingScore.empty()) cmi["cmi.scaled_passing_score"] = facts.scaledPassingScore;
    if (!facts.completionThreshold.empty()) cmi["cmi.completion_threshold"] = facts.completionThreshold;
  }
  if (!facts.dataFromLms.empty()) cmi["cmi.launch_data"] = facts.dataFromLms;
  return json{{"session", token}, {"entry", entry}, {"attempt", item["attempt"]}, {"cmi", std::move(cmi)},
              {"globals", record.value("globals", json::object())}};
}

bool CommitItem(json& record, const json& body, const std::string& version, const std::string& now,
                std::string* error, std::vector<std::string>* warnings) {
  if (!body.is_object() || !body.contains("item") || !body["item"].is_string()) {
    *error = "the commit names no item";
    return false;
  }
  const std::string id = body["item"];
  json& items = record["items"];
  if (!items.contains(id) || !items[id].contains("session")) {
    *error = "the item " + id + " has not been launched";
    return false;
  }
  json& item = items[id];
  if (body.value("session", json()) != item["session"]) {
    *error = "the session is not the item's current one";
    return false;
  }
  // Commits may overtake each other (a keep-alive fetch behind a later one): one whose "seq" is
  // not above the last applied in this session changes nothing.
  const json seq = body.value("seq", json());
  if (seq.is_number() && item.contains("seq") && item["seq"].is_number() && seq.get<double>() <= item["seq"].get<double>()) {
    return true;
  }
  const json cmi = body.value("cmi", json::object());
  const json globals = body.value("globals", json::object());
  const json end = body.value("end", json());
  const json seconds = body.value("sessionSeconds", json(0));
  if (!cmi.is_object() || !globals.is_object() || !(end.is_null() || end == "finish" || end == "pagehide") ||
      !seconds.is_number() || seconds.get<double>() < 0 || seconds.get<double>() > 1e9) {
    *error = "the commit's values are not of their types";
    return false;
  }
  json merged = item["cmi"];
  std::string sessionTime = Text(item, "sessionTime"), exit = Text(item, "exit");
  for (const auto& [name, value] : cmi.items()) {
    if (!value.is_string()) {
      *error = "the value of " + name + " is not a string";
      return false;
    }
    const std::string text = value.get<std::string>();
    const std::size_t limit = StandardLimit(name, version);
    if (limit != 0 && Characters(text) > limit) {
      if (Characters(text) > kMaxLongValue) {
        warnings->push_back(name + " of " + std::to_string(Characters(text)) + " characters is refused: more than " +
                            std::to_string(kMaxLongValue) + ".");
        continue;
      }
      warnings->push_back(name + " holds " + std::to_string(Characters(text)) + " characters, past the standard's " +
                          std::to_string(limit) + "; kept all the same.");
    }
    if (name == "cmi.core.session_time" || name == "cmi.session_time") sessionTime = text;
    if (name == "cmi.core.exit" || name == "cmi.exit") exit = text;
    if (!IsSessionOnly(name)) merged[name] = text;
  }
  item["cmi"] = std::move(merged);
  item["exit"] = exit;
  item["sessionTime"] = sessionTime;
  // The content's own session_time, else the player's clock.
  std::int64_t sessionCs = std::llround(seconds.get<double>() * 100);
  std::int64_t parsed = 0;
  if (!sessionTime.empty() && (Is12(version) ? ParseTimespan12(sessionTime, &parsed) : ParseDuration2004(sessionTime, &parsed))) {
    sessionCs = parsed;
  }
  SetSeconds(item, "sessionSeconds", sessionCs);
  if (seq.is_number()) item["seq"] = seq;
  // The player's own state of the whole course, kept as it was last sent.
  if (body.contains("globals")) record["globals"] = globals;
  if (!end.is_null()) {
    CountSession(item);
    if (Text(item, "ended") != "finish") item["ended"] = end;
  }
  item["last"] = now;
  return true;
}

void RestartItems(json& record, const std::string& id, const std::string&) {
  // Starting the whole course over also forgets the player's course-wide state (its shared
  // objectives); the attempts themselves stay in each item's history.
  if (id.empty() && record.contains("globals")) record["globals"] = json::object();
  for (auto& [name, item] : record["items"].items()) {
    if (!id.empty() && name != id) continue;
    CountSession(item);
    NewAttempt(item, false);
  }
}
