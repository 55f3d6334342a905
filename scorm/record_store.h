// The learner's record of one package on disk: one JSON file, replaced whole on every save (a new
// file flushed, the previous good one kept as NAME.bak, then renamed over NAME), so a crash or a
// pulled plug leaves either the old record or the new one, never a part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// The largest record file read (far more than suspend data and history can reach).
constexpr std::size_t kMaxRecordBytes = 256u * 1024 * 1024;

// True when `text` is a record this version reads: a JSON object with "format": 1, "items" an
// object of item objects (each with a "cmi" object of strings, numbers where numbers belong and
// a "history" array of objects), "globals" an object. Anything else, cut short or garbage, is
// false; never throws.
bool ParseRecord(std::string_view text, nlohmann::json* record);

class RecordStore {
 public:
  // `path` names the record file, e.g. .../records/NAME.json; its folder exists.
  explicit RecordStore(std::wstring path);

  // The record: the file, else its backup; null when there is neither. A file that is not a
  // record (ParseRecord) is renamed aside (NAME.damaged-UNIXTIME, kept) and a sentence for the
  // learner added to `notices`, which also says when the backup was used instead.
  nlohmann::json Load(std::int64_t unixNow, std::vector<std::string>* notices);

  // Writes `record` as described above; true once it is on the disk.
  bool Save(const nlohmann::json& record, std::string* error);

  const std::wstring& Path() const { return path_; }

 private:
  // The record in `path`, null when missing; a damaged file is set aside with a notice.
  nlohmann::json LoadOne(const std::wstring& path, std::int64_t unixNow, std::vector<std::string>* notices);

  std::wstring path_;
  bool backupIsGood_ = true;  // the record file, when there is one, may become the backup
};
