#include "scorm/record_store.h"

#include "scorm/record_file.h"
#include "text/text.h"

namespace {

using nlohmann::json;

bool IsStringMap(const json& value) {
  if (!value.is_object()) return false;
  for (const auto& [key, v] : value.items()) {
    if (!v.is_string()) return false;
  }
  return true;
}

// One attempt's fields (an item, or an entry of its history).
bool IsAttempt(const json& value) {
  if (!value.is_object() || !IsStringMap(value.value("cmi", json::object()))) return false;
  for (const char* number : {"attempt", "attempts", "totalSeconds", "sessionSeconds", "seq"}) {
    if (value.contains(number) && !value[number].is_number()) return false;
  }
  for (const char* text : {"entry", "first", "last", "exit", "session", "sessionTime"}) {
    if (value.contains(text) && !value[text].is_string()) return false;
  }
  if (value.contains("ended") && !value["ended"].is_string() && !value["ended"].is_null()) return false;
  if (value.contains("sessionCounted") && !value["sessionCounted"].is_boolean()) return false;
  return true;
}

}  // namespace

bool ParseRecord(std::string_view text, json* record) {
  json value = json::parse(text.begin(), text.end(), nullptr, false);
  if (value.is_discarded() || !value.is_object() || value.value("format", json()) != json(1)) return false;
  if (!value.contains("items") || !value["items"].is_object()) return false;
  if (value.contains("globals") && !value["globals"].is_object()) return false;
  for (const auto& [id, item] : value["items"].items()) {
    if (!IsAttempt(item)) return false;
    if (item.contains("history")) {
      if (!item["history"].is_array()) return false;
      for (const json& old : item["history"]) {
        if (!IsAttempt(old)) return false;
      }
    }
  }
  for (const char* part : {"course", "learner"}) {
    if (value.contains(part) && !IsStringMap(value[part])) return false;
  }
  *record = std::move(value);
  return true;
}

RecordStore::RecordStore(std::wstring path) : path_(std::move(path)) {}

json RecordStore::LoadOne(const std::wstring& path, std::int64_t unixNow, std::vector<std::string>* notices) {
  std::string bytes, error;
  const bool found = record_file::Read(path, kMaxRecordBytes, &bytes, &error);
  if (!found && error.empty()) return json();
  json record;
  if (found && ParseRecord(bytes, &record)) return record;
  // Kept under a name of its own: NAME.damaged-UNIXTIME, or with "-2", "-3" ... when taken.
  const std::string name = WideToUtf8(path);
  std::wstring aside;
  bool setAside = false;
  for (int n = 1; n < 100 && !setAside; ++n) {
    aside = path + L".damaged-" + std::to_wstring(unixNow) + (n > 1 ? L"-" + std::to_wstring(n) : L"");
    setAside = record_file::SetAside(path, aside, &error);
  }
  if (setAside) {
    notices->push_back("The learner's record " + name + " was damaged; it is kept as " + WideToUtf8(aside) + ".");
  } else {
    notices->push_back("The learner's record " + name + " was damaged and could not be set aside (" + error + ").");
    if (path == path_) backupIsGood_ = false;  // the damaged file must not become the backup
  }
  return json();
}

json RecordStore::Load(std::int64_t unixNow, std::vector<std::string>* notices) {
  const std::size_t before = notices->size();
  json record = LoadOne(path_, unixNow, notices);
  if (!record.is_null()) return record;
  const bool damaged = notices->size() > before;
  record = LoadOne(path_ + L".bak", unixNow, notices);
  if (damaged) {
    notices->push_back(record.is_null() ? "No earlier good state of the record was found: it starts anew."
                                        : "The last good state of the record, from before its last save, is used.");
  }
  return record;
}

bool RecordStore::Save(const json& record, std::string* error) {
  const std::wstring fresh = path_ + L".new";
  return record_file::WriteFlushed(fresh, record.dump(-1, ' ', false, json::error_handler_t::replace), error) &&
         (!backupIsGood_ || record_file::KeepBackup(path_, path_ + L".bak", error)) &&
         record_file::Replace(fresh, path_, error) && (backupIsGood_ = true);
}
