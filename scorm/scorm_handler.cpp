// The package's own answers: the player's files, the course's facts, the record, and the
// launch / commit / restart requests that change it, each saved before it is answered.
#include "scorm/scorm_handler.h"

#include "scorm/player/player_files.h"
#include "text/text.h"

namespace {

using nlohmann::json;

// A read from a page of another site (or another site's frame) is none of its business.
bool IsForeignRead(const HttpRequest& request) {
  const std::string& site = request.secFetchSite;
  return !site.empty() && site != "same-origin" && site != "none";
}

}  // namespace

HttpAnswer JsonAnswer(const char* status, const std::string& body) {
  HttpAnswer answer;
  answer.head = std::string("HTTP/1.1 ") + status +
                "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body;
  return answer;
}

std::string IsoTime(std::int64_t unixSeconds) {
  // The civil date of a day count (days since 1970-01-01), in the proleptic Gregorian calendar.
  const std::int64_t days = (unixSeconds >= 0 ? unixSeconds : unixSeconds - 86399) / 86400;
  const std::int64_t second = unixSeconds - days * 86400;
  const std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
  return FormatText("%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                    static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(second / 3600),
                    static_cast<long long>(second / 60 % 60), static_cast<long long>(second % 60));
}

ScormHandler::ScormHandler(HttpHandler& content, std::string prefix, ScormCourse course, RecordStore store,
                           UnixClock clock, TokenSource tokens)
    : content_(content),
      prefix_(std::move(prefix)),
      course_(std::move(course)),
      store_(std::move(store)),
      clock_(std::move(clock)),
      tokens_(std::move(tokens)) {
  record_ = store_.Load(clock_(), &notices_);
  if (record_.is_null()) record_ = NewRecord(course_.manifest, course_.learner);
  for (const std::string& notice : notices_) DebugLog("record: %s\n", notice.c_str());
}

void ScormHandler::SetSessionUrl(const std::string& url) {
  // "http://127.0.0.1:PORT/PREFIX/": the origin is what comes before the path.
  const std::size_t path = url.find('/', 7);
  const std::string origin = url.substr(0, path);
  const std::size_t colon = origin.rfind(':');
  std::lock_guard<std::mutex> lock(origin_);
  ownOrigin_ = origin;
  ownLocalhost_ = "http://localhost" + (colon > 6 ? origin.substr(colon) : std::string());
}

HttpAnswer ScormHandler::Answer(const HttpRequest& request) {
  const std::string& path = request.path;
  const std::string reserved = prefix_ + kReservedFolder;
  if (path.compare(0, reserved.size(), reserved) != 0) return content_.Answer(request);
  return AnswerOwn(request, path.substr(reserved.size()));
}

HttpAnswer ScormHandler::AnswerOwn(const HttpRequest& request, const std::string& name) {
  if (request.method == "POST") {
    bool ownOrigin = false;
    {
      std::lock_guard<std::mutex> lock(origin_);
      ownOrigin = request.hasOrigin && !ownOrigin_.empty() &&
                  (request.origin == ownOrigin_ || request.origin == ownLocalhost_);
    }
    if (!ownOrigin) {
      DebugLog("POST %s from origin '%s' -> 403\n\n", name.c_str(), request.origin.c_str());
      return JsonAnswer("403 Forbidden", R"({"ok":false,"error":"not the course's own origin"})");
    }
    // Beacons send their JSON as text/plain: the body is read whatever its type.
    const json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
      return JsonAnswer("400 Bad Request", R"({"ok":false,"error":"the body is not a JSON object"})");
    }
    if (name == "launch") return Launch(body);
    if (name == "commit") return Commit(body);
    if (name == "restart") return Restart(body);
    return JsonAnswer("404 Not Found", R"({"ok":false,"error":"no such request"})");
  }
  if (name == "course.json" || name == "record") {
    if (IsForeignRead(request)) {
      DebugLog("GET %s from a %s page -> 403\n\n", name.c_str(), request.secFetchSite.c_str());
      return JsonAnswer("403 Forbidden", R"({"ok":false,"error":"not the course's own page"})");
    }
    const std::string body = (name == "record" ? record_ : CourseFacts()).dump(-1, ' ', false, json::error_handler_t::replace);
    HttpAnswer answer = JsonAnswer("200 OK", body);
    if (request.isHead) answer.head.resize(answer.head.size() - body.size());
    return answer;
  }
  const PlayerFile* file = FindPlayerFile(name);
  if (file == nullptr) return StatusAnswer("404 Not Found");
  HttpAnswer answer;
  answer.head = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(file->type) +
                "\r\nContent-Length: " + std::to_string(file->bytes.size()) + "\r\nCache-Control: no-cache\r\n\r\n";
  if (!request.isHead) {
    answer.body.kind = HttpBody::Kind::kMemory;
    answer.body.memory = file->bytes.data();
    answer.body.length = file->bytes.size();
  }
  return answer;
}

json ScormHandler::CourseFacts() const {
  const ManifestFacts& m = course_.manifest;
  return json{{"scorm", m.version.empty() ? json() : json(m.version)},
              {"edition", m.edition.empty() ? json() : json(m.edition)},
              {"manifest", course_.manifestPath},
              {"base", ""},
              {"learner", {{"id", course_.learner.id}, {"name", course_.learner.name}}},
              {"problems", m.problems},
              {"notices", notices_}};
}

bool ScormHandler::Save(std::string* error) {
  if (store_.Save(record_, error)) return true;
  DebugLog("record not saved: %s\n", error->c_str());
  return false;
}

HttpAnswer ScormHandler::Launch(const json& body) {
  const json id = body.value("item", json());
  const ManifestItem* item = nullptr;
  for (const ManifestItem& candidate : course_.manifest.items) {
    if (id.is_string() && candidate.identifier == id.get<std::string>()) item = &candidate;
  }
  if (item == nullptr) return JsonAnswer("404 Not Found", R"({"ok":false,"error":"no such item"})");
  const json before = record_;
  json answer = LaunchItem(record_, course_.manifest, *item, course_.learner, tokens_(), IsoTime(clock_()));
  std::string error;
  if (!Save(&error)) {
    record_ = before;
    return JsonAnswer("500 Internal Server Error", json{{"ok", false}, {"error", error}}.dump());
  }
  return JsonAnswer("200 OK", answer.dump(-1, ' ', false, json::error_handler_t::replace));
}

HttpAnswer ScormHandler::Commit(const json& body) {
  json changed = record_;
  std::string error;
  std::vector<std::string> warnings;
  if (!CommitItem(changed, body, course_.manifest.version, IsoTime(clock_()), &error, &warnings)) {
    DebugLog("commit refused: %s\n", error.c_str());
    return JsonAnswer("409 Conflict", json{{"ok", false}, {"error", error}}.dump());
  }
  for (const std::string& warning : warnings) DebugLog("record: %s\n", warning.c_str());
  std::swap(record_, changed);
  if (!Save(&error)) {
    std::swap(record_, changed);
    return JsonAnswer("500 Internal Server Error", json{{"ok", false}, {"error", error}}.dump());
  }
  return JsonAnswer("200 OK", R"({"ok":true})");
}

HttpAnswer ScormHandler::Restart(const json& body) {
  const json id = body.value("item", json(""));
  if (!id.is_string()) return JsonAnswer("400 Bad Request", R"({"ok":false,"error":"item is not a string"})");
  json changed = record_;
  RestartItems(changed, id.get<std::string>(), course_.manifest.version);
  std::swap(record_, changed);
  std::string error;
  if (!Save(&error)) {
    std::swap(record_, changed);
    return JsonAnswer("500 Internal Server Error", json{{"ok", false}, {"error", error}}.dump());
  }
  return JsonAnswer("200 OK", R"({"ok":true})");
}
